// The shell end to end on a real X server: the window over a scripted process source driven
// through its menus, header, chart pane and window states, then the real program started,
// shown and closed as a window manager would close it.
#include <gtest/gtest.h>

#include <QtCore/QProcess>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableView>

#include <memory>
#include <set>

#include "app/commands.h"
#include "linux/qt_chart_widget.h"
#include "linux/qt_commands.h"
#include "linux/qt_main_window.h"
#include "sampling/refresh_tick.h"
#include "support/scripted_system.h"
#include "x11_window.h"

namespace tessivo {
namespace {

std::set<QString> checkedTexts(const QList<QAction*>& actions) {
  std::set<QString> out;
  for (QAction* a : actions) {
    if (a->menu() != nullptr) out.merge(checkedTexts(a->menu()->actions()));
    else if (a->isChecked()) out.insert(a->text());
  }
  return out;
}

QStringList texts(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* a : actions) if (a->menu() != nullptr) out << a->text();
  return out;
}

struct ShellTest : ::testing::Test {
  testing::ScriptedSystem sys;
  AppState state{sys};
  std::vector<ProcByteSource> sources;
  std::unique_ptr<QtMainWindow> window;

  void SetUp() override {
    sys.add(10, u"zeta", u"/usr/bin/zeta").perTick.readBytes = 900'000;
    sys.add(20, u"alpha", u"/usr/bin/alpha").perTick.readBytes = 1'000;
    QtShellOptions options;
    options.setByteSource = [this](ProcByteSource s) { sources.push_back(s); };
    options.runningAsRoot = false;
    window = std::make_unique<QtMainWindow>(state, std::move(options));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    RefreshTick::run(state);
  }
  bool checked(std::int32_t id) const { return window->commandAction(id)->isChecked(); }
  QString cell(int row, int column) const {
    const QAbstractItemModel* m = window->listPane()->model();
    return m->data(m->index(row, column)).toString();
  }
};

TEST_F(ShellTest, StartsWithTheMenusTheirMarksAFilledListAndTheRootNotice) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessivo"));
  EXPECT_EQ(window->size(), QSize(1280, 720));
  const QList<QAction*> bar = window->menuBar()->actions();
  EXPECT_EQ(texts(bar), QStringList({"程序", "视图", "设置"}));
  EXPECT_EQ(texts(bar[2]->menu()->actions()), QStringList({"采样率", "保留时长", "计数来源"}));
  EXPECT_EQ(checkedTexts(bar), (std::set<QString>{"按应用分组", "计数模式：本次增量", "显示速度图表", "范围：实时（快速）",
                                                  "333 毫秒（默认）", "72 小时（默认）", "全部读写"}));
  EXPECT_FALSE(window->commandAction(command::ClearAll)->isCheckable());
  EXPECT_EQ(window->listPane()->model()->rowCount(), 2);
  const QLabel* notice = window->statusBar()->findChild<QLabel*>();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->text().contains(QStringLiteral("root")));
}

TEST_F(ShellTest, CommandsMoveTheirMarksAndSourceChangesRestartTheCounts) {
  window->commandAction(command::Interval2000)->trigger();
  EXPECT_EQ(window->samplingTimer().interval(), 2000);
  EXPECT_TRUE(checked(command::Interval2000));
  EXPECT_FALSE(checked(command::Interval100 + 2));
  window->commandAction(command::RangeLive)->trigger();  // chosen again: stays marked
  EXPECT_TRUE(checked(command::RangeLive));

  ASSERT_NE(cell(0, 2), QStringLiteral("0"));
  window->commandAction(command::SourceDiskOnly)->trigger();
  EXPECT_EQ(sources, std::vector<ProcByteSource>{ProcByteSource::DiskOnly});
  EXPECT_TRUE(checked(command::SourceDiskOnly));
  EXPECT_FALSE(checked(command::SourceAllIo));
  EXPECT_EQ(cell(0, 2), QStringLiteral("0"));  // counted afresh from the new counters
  RefreshTick::run(state);
  window->commandAction(command::SourceDiskOnly)->trigger();  // already chosen: nothing happens
  EXPECT_EQ(sources.size(), 1u);
  EXPECT_TRUE(checked(command::SourceDiskOnly));
  EXPECT_NE(cell(0, 2), QStringLiteral("0"));

  QString about;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      about = box->windowTitle() + "|" + box->text();
      box->accept();
    }
  });
  window->commandAction(command::About)->trigger();
  EXPECT_EQ(about, QStringLiteral("关于|") + QString::fromUtf16(kLinuxAboutText));
}

TEST_F(ShellTest, HeaderClicksReorderTheList) {
  EXPECT_EQ(cell(0, 0), QStringLiteral("zeta"));  // most bytes read first
  QHeaderView* header = window->listPane()->horizontalHeader();
  const QPoint name(header->sectionViewportPosition(0) + 20, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(state.sortColumn, 0);
  EXPECT_EQ(cell(0, 0), QStringLiteral("alpha"));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(cell(0, 0), QStringLiteral("zeta"));
}

TEST_F(ShellTest, ChartPaneTogglesAndTheListTakesItsPlace) {
  const QWidget* panes = window->centralWidget();
  EXPECT_EQ(window->chartPane()->geometry(), QRect(0, 0, panes->width(), 380));
  EXPECT_EQ(window->listPane()->geometry(), QRect(0, 380, panes->width(), panes->height() - 380));
  window->commandAction(command::ShowChart)->trigger();
  EXPECT_FALSE(window->chartPane()->isVisible());
  EXPECT_EQ(window->listPane()->geometry(), QRect(0, 0, panes->width(), panes->height()));
  window->commandAction(command::ShowChart)->trigger();
  EXPECT_TRUE(window->chartPane()->isVisible());
  EXPECT_EQ(window->listPane()->y(), 380);
}

TEST_F(ShellTest, ChartMouseDragsZoomsAndResets) {
  QWidget* chart = window->chartPane();
  QTest::mousePress(chart, Qt::LeftButton, {}, QPoint(400, 200));
  EXPECT_TRUE(state.chart.dragging);
  EXPECT_EQ(chart->cursor().shape(), Qt::SizeAllCursor);
  QTest::mouseRelease(chart, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_FALSE(state.chart.dragging);
  EXPECT_EQ(chart->cursor().shape(), Qt::CrossCursor);
  const QPointF middle((64 + chart->width() - 16) / 2.0, 200);
  QWheelEvent wheel(middle, chart->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart, &wheel);
  EXPECT_FLOAT_EQ(state.chart.viewSpan, 192.0f);
  EXPECT_TRUE(state.chart.viewAltered);
  QTest::mouseDClick(chart, Qt::LeftButton, {}, QPoint(400, 200));
  EXPECT_FLOAT_EQ(state.chart.viewSpan, 240.0f);
  EXPECT_FALSE(state.chart.viewAltered);
}

TEST_F(ShellTest, MinimisedWithoutANotificationAreaItStaysReachableThenRestores) {
  window->showMinimized();
  QTest::qWait(100);
  EXPECT_TRUE(window->isMinimized());
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(state.trayIconShown);
  window->runCommandId(command::Restore);
  EXPECT_FALSE(window->isMinimized());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(ShellTest, ClosingEndsTheEventLoopWithZero) {
  QTimer::singleShot(0, window.get(), [this] { window->close(); });
  EXPECT_EQ(QApplication::exec(), 0);
}

TEST(TessivoProgram, ShowsItsWindowAndClosesWithZeroWhenAskedPolitely) {
  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QStringLiteral(TESSIVO_PROGRAM), {});
  ASSERT_TRUE(program.waitForStarted(10'000));
  bool shown = false;
  for (int i = 0; i < 300 && !shown; ++i) {
    shown = testing::hasTopLevelWindow("Tessivo", program.processId());
    if (!shown) QTest::qWait(100);
  }
  EXPECT_TRUE(shown);
  QTest::qWait(500);  // a few refreshes over the real /proc
  EXPECT_TRUE(testing::askToClose("Tessivo", program.processId()));
  ASSERT_TRUE(program.waitForFinished(20'000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
}  // namespace tessivo
