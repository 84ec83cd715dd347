// tessivo: the per-process disk I/O monitor over /proc.
#include <unistd.h>

#include <QtWidgets/QApplication>

#include <utility>

#include "app/app_state.h"
#include "linux/agent_system.h"
#include "linux/proc_system.h"
#include "linux/qt_main_window.h"
#include "linux/qt_termination.h"

int main(int argc, char** argv) {
  // One descriptor is kept open per process; the default soft limit is far too small.
  tessivo::raiseOpenFileLimit();
  QApplication app(argc, argv);
  try {
    // Counts from tessivo-agent while it answers, from /proc otherwise.
    tessivo::SwitchingSystem system;
    tessivo::AppState state(system);
    tessivo::QtShellOptions options;
    options.setByteSource = [&system](tessivo::ProcByteSource source) { system.setByteSource(source); };
    options.runningAsRoot = geteuid() == 0;
    options.countsFromAgent = [&system] { return system.fromAgent(); };
    tessivo::QtMainWindow window(state, std::move(options));
    const tessivo::QtTermination termination([&window] { window.close(); });
    window.show();
    return QApplication::exec();
  } catch (...) {
    return 1;
  }
}
