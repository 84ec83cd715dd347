// The program's top-level window: the chart pane above the process list, the menu bar, the
// sampling timer and, while minimised, the notification-area icon when there is one.
#pragma once

#include <QtCore/QTimer>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QSystemTrayIcon>

#include <cstdint>
#include <functional>

#include "agent/agent_system.h"
#include "agent/history_timeline.h"
#include "app/app_state.h"
#include "procfs/proc_system.h"
#include "qt/menu_builder.h"

class QLabel;
class QTableView;

namespace tessivo {

class QtChartWidget;
class QtListModel;
struct CommandEffect;

struct QtShellOptions {
  // Switches the process source's byte counters; empty when the source has no such choice.
  std::function<void(ProcByteSource)> setByteSource;
  // Without root the kernel hides other users' counters; the window then says so.
  bool runningAsRoot = true;
  // What tessivo-agent's client last found; empty when the source has no agent.
  std::function<AgentState()> agentState;
  // Takes in tessivo-agent's history when the client has it; empty without an agent.
  std::function<void(SpeedChart&)> takeHistory;
  // When each item of the chart's history was recorded; null without an agent.
  const HistoryTimeline* history = nullptr;
};

// The status bar's notice that the minute view shows the agent's minutes from before the
// program started, from `since` on (a local date and time already written out).
QString historyNotice(const QString& since);

// The status bar's notice of where the counts come from and, without the agent, why; null
// when there is nothing to say (root without the agent sees everything itself).
const char16_t* countSourceNotice(AgentState state, bool runningAsRoot);

class QtMainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the panes, menus and timer and runs the first refresh, so the list is filled
  // before the window first shows.
  QtMainWindow(AppState& state, QtShellOptions options, QWidget* parent = nullptr);
  ~QtMainWindow() override;
  QtMainWindow(const QtMainWindow&) = delete;
  QtMainWindow& operator=(const QtMainWindow&) = delete;

  // One menu or tray command, as if chosen from a menu.
  void runCommandId(std::int32_t commandId);

  QtChartWidget* chartPane() const { return chart_; }
  QTableView* listPane() const { return list_; }
  const QTimer& samplingTimer() const { return timer_; }
  QAction* commandAction(std::int32_t commandId) const;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void onCommand(std::int32_t commandId);
  void onByteSource(ProcByteSource source);
  void applyChecks(const CommandEffect& effect);
  void layoutPanes();
  void minimiseToTray();
  void restore();
  void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
  void showCountSource();
  void showHistorySpan();
  void fitStatusBar();
  // Runs a handler; a failure ends the program with exit code 1.
  template <typename Handler>
  void guarded(Handler&& handler) noexcept;

  AppState& state_;
  QtShellOptions options_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  QWidget* panes_ = nullptr;
  QtChartWidget* chart_ = nullptr;
  QTableView* list_ = nullptr;
  QtListModel* model_ = nullptr;
  CommandActions actions_;
  QTimer timer_;
  QSystemTrayIcon* tray_ = nullptr;  // made the first time the window hides into it
  QMenu* trayMenu_ = nullptr;
  QLabel* sourceNotice_ = nullptr;  // with agentState: why the counts are what they are
  QLabel* historyNotice_ = nullptr;  // with history: from when the agent's minutes run
};

}  // namespace tessivo
