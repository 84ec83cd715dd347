#include "qt/main_window.h"

#include <time.h>

#include <QtCore/QDateTime>
#include <QtGui/QCloseEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QShortcut>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QTableView>

#include <utility>

#include "app/commands.h"
#include "app/shell_layout.h"
#include "qt/chart_widget.h"
#include "qt/commands.h"
#include "qt/failure.h"
#include "qt/list_model.h"
#include "qt/program_icon.h"
#include "list/cell_text.h"
#include "app/refresh_tick.h"

namespace tessivo {

namespace {

QString qtText(const char16_t* text) { return QString::fromUtf16(text); }

constexpr char16_t kAgentNotice[] = u"计数来自 tessivo-agent：可查看全部用户的进程。";
constexpr char16_t kPartialNotice[] =
    u"tessivo-agent 缺少权限（CAP_SYS_PTRACE、CAP_DAC_READ_SEARCH）：其他用户的进程保持最后读到的计数，"
    u"请管理员检查其服务设置。";
constexpr char16_t kAgentStoppedNotice[] =
    u"tessivo-agent 未运行：计数来自本用户可读的 /proc，其他用户的进程保持最后读到的计数，"
    u"待 tessivo-agent 启动后补上。";
constexpr char16_t kNotMemberNotice[] =
    u"本用户不在 tessivo 组，不能使用 tessivo-agent：其他用户的进程保持最后读到的计数。"
    u"加入方法：sudo usermod -aG tessivo $USER，然后重新登录。";
constexpr char16_t kAgentSilentNotice[] =
    u"tessivo-agent 无应答：计数暂来自本用户可读的 /proc，其他用户的进程保持最后读到的计数。";

constexpr char16_t kHistoryNotice[] = u"本程序启动前的分钟来自 tessivo-agent 的记录，始于 %1。";

}  // namespace

QString historyNotice(const QString& since) { return qtText(kHistoryNotice).arg(since); }

const char16_t* countSourceNotice(AgentState state, bool runningAsRoot) {
  switch (state) {
    case AgentState::Serving:
      return kAgentNotice;
    case AgentState::Partial:
      return kPartialNotice;
    case AgentState::Unknown:
      break;
    case AgentState::NotRunning:
      if (!runningAsRoot) return kAgentStoppedNotice;
      break;
    case AgentState::NotPermitted:
      if (!runningAsRoot) return kNotMemberNotice;
      break;
    case AgentState::NotAnswering:
      if (!runningAsRoot) return kAgentSilentNotice;
      break;
  }
  return runningAsRoot ? nullptr : kNotRootNotice;
}

template <typename Handler>
void QtMainWindow::guarded(Handler&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    endProgramAfterFailure();
  }
}

QtMainWindow::QtMainWindow(AppState& state, QtShellOptions options, QWidget* parent)
    : QMainWindow(parent), state_(state), options_(std::move(options)) {
  setWindowTitle(QStringLiteral("Tessivo"));
  resize(1280, 720);

  // The panes are placed by hand inside the central widget, so the status bar's height
  // comes off the list and not off the chart.
  panes_ = new QWidget(this);
  setCentralWidget(panes_);
  panes_->installEventFilter(this);
  chart_ = new QtChartWidget(state_.chart, panes_);

  list_ = new QTableView(panes_);
  model_ = new QtListModel(state_.rows, this);
  list_->setModel(model_);
  list_->setItemDelegate(new QtListDelegate(list_));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setWordWrap(false);
  list_->setShowGrid(true);
  list_->setSortingEnabled(false);  // the order is the core's, applied at each refresh
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  QHeaderView* header = list_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  for (int c = 0; c < column::Count; ++c) header->resizeSection(c, QtListModel::columnWidth(c));
  connect(header, &QHeaderView::sectionClicked, this,
          [this](int section) { guarded([&] { onColumnClick(state_, section); }); });
  state_.listView = model_;
  // A refresh repaints only the cells on screen whose text changed, and none while the
  // window is minimised or hidden.
  model_->setVisibleRows([this]() -> std::pair<int, int> {
    if (!list_->isVisible() || isMinimized()) return {0, -1};
    const int first = list_->rowAt(0);
    const int last = list_->rowAt(list_->viewport()->height() - 1);
    return {first < 0 ? 0 : first, last < 0 ? model_->rowCount() - 1 : last};
  });

  appendMenuItems(*menuBar(), buildLinuxMenuBar(), [this](std::int32_t id) { runCommandId(id); }, &actions_);

  if (!options_.runningAsRoot && !options_.agentState) statusBar()->addWidget(new QLabel(qtText(kNotRootNotice)));
  if (options_.agentState) {
    sourceNotice_ = new QLabel(this);
    statusBar()->addWidget(sourceNotice_);
  }
  if (options_.history != nullptr) {
    historyNotice_ = new QLabel(this);
    historyNotice_->hide();
    statusBar()->addWidget(historyNotice_);
  }

  connect(&timer_, &QTimer::timeout, this, [this] {
    guarded([&] {
      // The agent's history arrives between refreshes, never during one.
      if (options_.takeHistory) options_.takeHistory(state_.chart);
      RefreshTick::run(state_);
      showCountSource();
      showHistorySpan();
      fitStatusBar();
    });
  });
  timer_.start(state_.chart.sampleIntervalMs);
  RefreshTick::run(state_);
  showCountSource();
  showHistorySpan();
  fitStatusBar();

  // F10 takes the keyboard to the menu bar, as Alt does: the menu bar answers Alt pressed
  // and released alone.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this] {
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : this;
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent alt(type, Qt::Key_Alt, type == QEvent::KeyPress ? Qt::AltModifier : Qt::NoModifier);
      QApplication::sendEvent(target, &alt);
    }
  });
}

void QtMainWindow::fitStatusBar() {
  // The bar shows only while one of its notices has something to say; otherwise the list
  // has the room.
  QStatusBar* bar = statusBar();
  bool saying = false;
  for (const QLabel* label : bar->findChildren<QLabel*>()) saying = saying || (label->isVisibleTo(bar) && !label->text().isEmpty());
  if (bar->isVisibleTo(this) != saying) bar->setVisible(saying);
}

void QtMainWindow::showCountSource() {
  if (sourceNotice_ == nullptr) return;
  const char16_t* notice = countSourceNotice(options_.agentState(), options_.runningAsRoot);
  sourceNotice_->setVisible(notice != nullptr);
  const QString text = notice != nullptr ? qtText(notice) : QString();
  if (sourceNotice_->text() != text) sourceNotice_->setText(text);
}

void QtMainWindow::showHistorySpan() {
  if (historyNotice_ == nullptr) return;
  // Said while the minute view shows minutes from before the program started.
  const SpeedChart& chart = state_.chart;
  const std::size_t before = options_.history->minutesBeforeStart();
  const bool shown = before > 0 && chart.rangeMode != ChartRange::Live && chart.itemCount() > 0 &&
                     chart.leftIndex() < static_cast<float>(before);
  QString text;
  if (shown) {
    // The history's clock is CLOCK_MONOTONIC, shared by every process of the machine.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nowMs = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    const QDateTime since =
        QDateTime::currentDateTime().addMSecs(-(nowMs - static_cast<std::int64_t>(options_.history->oldestMinuteStartMs())));
    const bool today = since.date() == QDate::currentDate();
    text = historyNotice(since.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("M月d日 HH:mm")));
  }
  if (historyNotice_->text() != text) historyNotice_->setText(text);
  if (historyNotice_->isVisibleTo(statusBar()) != shown) historyNotice_->setVisible(shown);
}

QtMainWindow::~QtMainWindow() {
  if (state_.listView == model_) state_.listView = nullptr;
}

QAction* QtMainWindow::commandAction(std::int32_t commandId) const {
  const auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

void QtMainWindow::runCommandId(std::int32_t commandId) {
  guarded([&] { onCommand(commandId); });
}

void QtMainWindow::onCommand(std::int32_t commandId) {
  if (const std::optional<ProcByteSource> source = byteSourceOf(commandId)) {
    onByteSource(*source);
    return;
  }
  const CommandEffect effect = runCommand(state_, commandId);
  if (!effect.handled) return;
  applyChecks(effect);
  if (effect.timerIntervalMs) timer_.start(*effect.timerIntervalMs);
  if (effect.relayout) layoutPanes();
  if (effect.showAbout) {
    QMessageBox::information(this, qtText(kAboutCaption), qtText(kLinuxAboutText));
  }
  if (effect.restore) restore();
  if (effect.destroy) close();
}

void QtMainWindow::applyChecks(const CommandEffect& effect) {
  // Qt flips a checkable action before it reports the trigger; the command's own marks
  // decide, also for an item chosen again.
  for (const auto& [id, checked] : effect.checks) {
    if (QAction* action = commandAction(id)) action->setChecked(checked);
  }
}

void QtMainWindow::onByteSource(ProcByteSource source) {
  CommandEffect marks;
  if (source != byteSource_) {
    byteSource_ = source;
    if (options_.setByteSource) options_.setByteSource(source);
    // Amounts counted from the other counters mean nothing now: start counting afresh.
    state_.tracker.clear();
    RefreshTick::run(state_);
  }
  marks.checks = {{command::SourceAllIo, byteSource_ == ProcByteSource::AllIo},
                  {command::SourceDiskOnly, byteSource_ == ProcByteSource::DiskOnly}};
  applyChecks(marks);
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panes_ && event->type() == QEvent::Resize) layoutPanes();
  return QMainWindow::eventFilter(watched, event);
}

void QtMainWindow::layoutPanes() {
  const QSize size = panes_->size();
  const PaneLayout panes = tessivo::layoutPanes(state_.chartVisible, static_cast<std::uint32_t>(size.width()),
                                                static_cast<std::uint32_t>(size.height()));
  if (panes.chartShown) {
    chart_->setGeometry(0, 0, panes.chartWidth, panes.chartHeight);
    chart_->show();
  } else {
    chart_->hide();
  }
  list_->setGeometry(0, panes.listTop, panes.listWidth, panes.listHeight);
}

void QtMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) {
    // While minimised the refreshes painted nothing: what shows now is painted afresh.
    chart_->update();
    list_->viewport()->update();
  }
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // Without a notification area the window stays minimised on the taskbar: hidden, it
  // could never be brought back.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  // Hiding from inside the state change confuses some window managers; do it right after.
  QTimer::singleShot(0, this, [this] {
    if (isMinimized()) guarded([&] { minimiseToTray(); });
  });
}

void QtMainWindow::minimiseToTray() {
  if (tray_ == nullptr) {
    tray_ = new QSystemTrayIcon(programIcon(), this);
    tray_->setToolTip(QStringLiteral("Tessivo"));
    trayMenu_ = new QMenu(this);
    appendMenuItems(*trayMenu_, buildTrayMenu(), [this](std::int32_t id) { runCommandId(id); }, nullptr);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, &QtMainWindow::onTrayActivated);
  }
  tray_->show();
  state_.trayIconShown = true;
  hide();
}

void QtMainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  // A click or a double click restores; the context menu opens by itself.
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
    guarded([&] { restore(); });
  }
}

void QtMainWindow::restore() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
  if (tray_ != nullptr) tray_->hide();
  state_.trayIconShown = false;
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // Closing ends the program; it never hides into the notification area.
  timer_.stop();
  if (tray_ != nullptr) tray_->hide();
  state_.trayIconShown = false;
  event->accept();
  // Also when the window is hidden behind the icon (退出), where Qt would not see a last
  // window closing.
  QCoreApplication::exit(0);
}

}  // namespace tessivo
