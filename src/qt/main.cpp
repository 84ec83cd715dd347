// tessivo: the per-process disk I/O monitor over /proc.
#include <sys/stat.h>
#include <unistd.h>

#include <QtWidgets/QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "agent/history_timeline.h"
#include "app/menu_model.h"
#include "agent/switching_system.h"
#include "procfs/proc_system.h"
#include "qt/main_window.h"
#include "qt/termination.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessivo [--help | --version]\n"
    "Shows each process's disk reads and writes from /proc in a window (an X11 or Wayland\n"
    "session, or the Qt platform named by QT_QPA_PLATFORM). To see every user's processes,\n"
    "run it while tessivo-agent runs, as a member of group tessivo (or run it as root).\n"
    "TESSIVO_AGENT_SOCKET, when set, is the agent's socket (default /run/tessivo/agent.sock).\n";

const char* envOf(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Qt's D-Bus support, with no session bus address, has libdbus run the first dbus-launch
// it finds (falling back to PATH). As root that would run whatever PATH names, so the
// address is settled here: root's own bus socket if it has one, else one that refuses.
void settleSessionBusAsRoot() {
  if (geteuid() != 0 || envOf("DBUS_SESSION_BUS_ADDRESS") != nullptr) return;
  std::string address = "unix:path=/dev/null";
  if (const char* runtime = envOf("XDG_RUNTIME_DIR")) {
    const std::string bus = std::string(runtime) + "/bus";
    struct stat st{};
    if (lstat(bus.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == 0) address = "unix:path=" + bus;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

// While the platform is being opened, Qt's own messages are held back: if it cannot be
// opened, Qt would abort after several lines that suggest reinstalling; the user gets one
// line saying what is missing instead, and exit code 1.
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
std::vector<HeldMessage> heldMessages;

void noDisplay() {
  std::string line = "tessivo: cannot open a display for the window";
  const char* platform = envOf("QT_QPA_PLATFORM");
  const char* x11 = envOf("DISPLAY");
  const char* wayland = envOf("WAYLAND_DISPLAY");
  if (platform != nullptr) line += std::string(" (Qt platform \"") + platform + "\")";
  else if (x11 == nullptr && wayland == nullptr) line += ": neither DISPLAY nor WAYLAND_DISPLAY is set";
  else line += std::string(" (") + (x11 != nullptr ? "DISPLAY=" : "WAYLAND_DISPLAY=") + (x11 ? x11 : wayland) + ")";
  line += '\n';
  (void)!write(STDERR_FILENO, line.data(), line.size());
  _exit(1);
}

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) noDisplay();
  heldMessages.push_back({type, context.category, text});
}

// For bench/desktop-cpu.sh only: TESSIVO_BENCH_HISTORY=MINUTES records that many busy
// minutes (ten contributors each) through the chart's own recordSample before the first
// refresh, as if the program had run that long, the last 80 seconds of them quiet;
// TESSIVO_BENCH_RANGE=full then shows them.
void fillBenchHistory(tessivo::SpeedChart& chart) {
  const char* minutes = envOf("TESSIVO_BENCH_HISTORY");
  if (minutes == nullptr) return;
  const long count = std::strtol(minutes, nullptr, 10);
  std::vector<tessivo::NameRate> top(10);
  std::uint32_t seed = 12345;
  for (long m = 0; m < count; ++m) {
    for (std::int32_t t = 0; t < chart.ticksPerMinute; ++t) {
      std::uint64_t read = 0, write = 0;
      for (std::size_t i = 0; i < top.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        top[i].name = u"bench-" + std::u16string(1, static_cast<char16_t>(u'a' + (m + i) % 26));
        top[i].readRate = (seed >> 8) % (4u << 20) / (i + 1);
        top[i].writeRate = (seed >> 4) % (2u << 20) / (i + 1);
        read += top[i].readRate;
        write += top[i].writeRate;
      }
      std::sort(top.begin(), top.end(), [](const tessivo::NameRate& a, const tessivo::NameRate& b) {
        return a.readRate + a.writeRate > b.readRate + b.writeRate;
      });
      chart.recordSample(read, write, top);
    }
  }
  // The last refreshes quiet, as at rest: the Live view shows what a rested program shows.
  if (count > 0)
    for (std::uint64_t t = 0; t < chart.liveCapacity; ++t) chart.recordSample(0, 0, std::span<const tessivo::NameRate>());
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything needs a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("tessivo " TESSIVO_VERSION);
      return 0;
    }
    std::fprintf(stderr, "tessivo: unknown option '%s'\n%s", argv[i], kUsage);
    return 2;
  }
  if (envOf("QT_QPA_PLATFORM") == nullptr && envOf("DISPLAY") == nullptr && envOf("WAYLAND_DISPLAY") == nullptr)
    noDisplay();
  settleSessionBusAsRoot();

  // One descriptor is kept open per process; the default soft limit is far too small.
  tessivo::raiseOpenFileLimit();
  qInstallMessageHandler(holdStartupMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(nullptr);
  for (const HeldMessage& m : std::exchange(heldMessages, {}))
    qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()), m.text);
  try {
    // Counts from tessivo-agent while it answers, from /proc otherwise.
    // TESSIVO_AGENT_SOCKET names the socket of an agent started with --socket elsewhere.
    const char* socket = envOf("TESSIVO_AGENT_SOCKET");
    tessivo::SwitchingSystem system(socket != nullptr ? socket : tessivo::agent::kDefaultSocketPath);
    tessivo::AppState state(system);
    fillBenchHistory(state.chart);
    // The agent's history becomes the chart's past; the timeline tells which items are whose.
    tessivo::HistoryTimeline timeline;
    state.afterRecord = [&](std::uint64_t nowMs) { timeline.recorded(state.chart, nowMs, system.fromAgent()); };
    tessivo::QtShellOptions options;
    options.history = &timeline;
    options.takeHistory = [&system, &timeline](tessivo::SpeedChart& chart) {
      tessivo::HistoryCopy copy;
      if (system.takeHistory(copy)) timeline.merge(chart, copy);
    };
    options.setByteSource = [&system](tessivo::ProcByteSource source) { system.setByteSource(source); };
    options.runningAsRoot = geteuid() == 0;
    options.agentState = [&system] { return system.agentState(); };
    tessivo::QtMainWindow window(state, std::move(options));
    if (const char* range = envOf("TESSIVO_BENCH_RANGE"); range != nullptr && std::strcmp(range, "full") == 0)
      window.runCommandId(tessivo::command::RangeFull);
    const tessivo::QtTermination termination([&window] { window.close(); });
    window.show();
    return QApplication::exec();
  } catch (...) {
    return 1;
  }
}
