// The shell end to end on a private X server: the window over a scripted process source
// driven through its menus, header, chart pane and window states; then the real program,
// shown over the real /proc and closed by SIGTERM.
#include <gtest/gtest.h>

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableView>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

#include "agent/history_timeline.h"
#include "chart/speed_chart.h"
#include "qt/canvas.h"
#include "qt/chart_widget.h"
#include "qt/commands.h"
#include "qt/main_window.h"
#include "app/refresh_tick.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

// The popups' titles, or with `checked` the texts of the checked items, at every depth.
QStringList menuTexts(const QList<QAction*>& actions, bool checked) {
  QStringList out;
  for (QAction* a : actions) {
    if (a->menu() != nullptr) out << (checked ? menuTexts(a->menu()->actions(), true) : QStringList{a->text()});
    else if (checked && a->isChecked()) out << a->text();
  }
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
    window = std::make_unique<QtMainWindow>(
        state, QtShellOptions{[this](ProcByteSource s) { sources.push_back(s); }, false, {}, {}, nullptr});
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    RefreshTick::run(state);
  }
  void choose(std::int32_t id) { window->commandAction(id)->trigger(); }
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
  EXPECT_EQ(menuTexts(bar, false), QStringList({"程序", "视图", "设置"}));
  EXPECT_EQ(menuTexts(bar[2]->menu()->actions(), false), QStringList({"采样率", "保留时长", "计数来源"}));
  const QStringList marks = menuTexts(bar, true);
  EXPECT_EQ(std::set(marks.begin(), marks.end()), (std::set<QString>{"按应用分组", "计数模式：本次增量", "显示速度图表",
                                                  "范围：实时（快速）", "333 毫秒（默认）", "72 小时（默认）", "全部读写"}));
  EXPECT_FALSE(window->commandAction(command::ClearAll)->isCheckable());
  EXPECT_EQ(window->listPane()->model()->rowCount(), 2);
  const QLabel* notice = window->statusBar()->findChild<QLabel*>();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->text().contains(QStringLiteral("root")) && notice->text().contains(QStringLiteral("按名称分组")));
}

TEST_F(ShellTest, CommandsMoveTheirMarksAndASourceChangeRestartsTheCounts) {
  choose(command::Interval2000);
  EXPECT_EQ(window->samplingTimer().interval(), 2000);
  EXPECT_TRUE(checked(command::Interval2000) && !checked(command::Interval100 + 2));
  choose(command::RangeLive);  // chosen again: stays marked
  EXPECT_TRUE(checked(command::RangeLive));
  ASSERT_NE(cell(0, 2), QStringLiteral("0"));
  choose(command::SourceDiskOnly);
  EXPECT_EQ(sources, std::vector<ProcByteSource>{ProcByteSource::DiskOnly});
  EXPECT_TRUE(checked(command::SourceDiskOnly) && !checked(command::SourceAllIo));
  EXPECT_EQ(cell(0, 2), QStringLiteral("0"));  // counted afresh from the other counters
  RefreshTick::run(state);
  choose(command::SourceDiskOnly);  // already chosen: nothing happens
  EXPECT_EQ(sources.size(), 1u);
  EXPECT_TRUE(checked(command::SourceDiskOnly));
  EXPECT_NE(cell(0, 2), QStringLiteral("0"));
}

TEST_F(ShellTest, HeaderClicksReorderTheListAndTheChartPaneToggles) {
  EXPECT_EQ(cell(0, 0), QStringLiteral("zeta"));  // most bytes read first
  QHeaderView* header = window->listPane()->horizontalHeader();
  const QPoint name(header->sectionViewportPosition(0) + 20, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(state.sortColumn, 0);
  EXPECT_EQ(cell(0, 0), QStringLiteral("alpha"));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(cell(0, 0), QStringLiteral("zeta"));

  // The chart pane toggles and the list takes its place.
  const QSize panes = window->centralWidget()->size();
  EXPECT_EQ(window->chartPane()->geometry(), QRect(0, 0, panes.width(), 380));
  EXPECT_EQ(window->listPane()->geometry(), QRect(0, 380, panes.width(), panes.height() - 380));
  choose(command::ShowChart);
  EXPECT_FALSE(window->chartPane()->isVisible());
  EXPECT_EQ(window->listPane()->geometry(), QRect(QPoint(0, 0), panes));
  choose(command::ShowChart);
  EXPECT_TRUE(window->chartPane()->isVisible());
  EXPECT_EQ(window->listPane()->y(), 380);
}

TEST_F(ShellTest, ChartMouseDragsZoomsAndResetsAndTheWindowMinimisesAndRestores) {
  QWidget* chart = window->chartPane();
  QTest::mousePress(chart, Qt::LeftButton, {}, QPoint(400, 200));
  EXPECT_TRUE(state.chart.dragging);
  EXPECT_EQ(chart->cursor().shape(), Qt::SizeAllCursor);
  QTest::mouseRelease(chart, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_FALSE(state.chart.dragging);
  EXPECT_EQ(chart->cursor().shape(), Qt::CrossCursor);
  // Zoomed about the plot's middle of a window away from the screen's origin: the newest 24
  // of the 240 items shown leave on the right.
  window->move(300, 100);
  for (int i = 0; i < 300; ++i) state.chart.recordSample(1, 1, {});
  const QPointF middle((64 + chart->width() - 16) / 2.0, 200);
  ASSERT_GT(chart->mapToGlobal(middle).x(), middle.x() + 200);
  QWheelEvent wheel(middle, chart->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart, &wheel);
  EXPECT_EQ(std::tuple(state.chart.viewSpan, std::round(state.chart.viewPan)), std::tuple(192.0f, 24.0f));
  QTest::mouseDClick(chart, Qt::LeftButton, {}, QPoint(400, 200));
  EXPECT_FLOAT_EQ(state.chart.viewSpan, 240.0f);
  EXPECT_FALSE(state.chart.viewAltered);

  // Minimised without a notification area, it stays reachable; 还原 brings it back.
  window->showMinimized();
  QTest::qWait(100);
  EXPECT_TRUE(window->isMinimized() && window->isVisible());
  EXPECT_FALSE(state.trayIconShown);
  window->runCommandId(command::Restore);
  EXPECT_TRUE(!window->isMinimized() && window->isVisible());
}

// The status bar shows only while it has something to say, and the list then has the room;
// F10 takes the keyboard to the menu bar as Alt does; after a header click the list frames
// no current cell.
TEST_F(ShellTest, StatusBarOnlyWithANoticeF10ToTheMenuBarAndNoCurrentCellFrame) {
  EXPECT_TRUE(window->statusBar()->isVisible());  // not root: the notice
  // As root: no agent client; one whose agent is away; one on the agent (its notice).
  for (auto [agent, shown] : {std::pair{0, false}, {1, false}, {2, true}}) {
    AppState other{sys};
    std::function<AgentState()> agentState;
    if (agent > 0) agentState = [agent = agent] { return agent == 2 ? AgentState::Serving : AgentState::NotRunning; };
    QtMainWindow root(other, QtShellOptions{{}, true, agentState, {}, nullptr});
    root.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
    EXPECT_EQ(root.statusBar()->isVisible(), shown) << agent;
    EXPECT_EQ(root.centralWidget()->geometry().bottom() == root.rect().bottom(), !shown) << agent;
  }
  {  // The agent's minutes from before the start are noted while a minute view shows them.
    AppState other{sys};
    HistoryTimeline timeline;
    for (std::uint64_t i = 1; i <= 180; ++i) other.chart.recordSample(1, 0, {}), timeline.recorded(other.chart, 6'000'000 + i * 333, true);
    HistoryCopy copy;
    copy.minuteSpanMs = 60'000;
    for (std::uint64_t m = 1; m <= 90; ++m) copy.minutes.push_back({m * 60'000, ChartSample{5, 0, {}}});
    ASSERT_TRUE(timeline.merge(other.chart, copy));
    QtMainWindow root(other, QtShellOptions{{}, true, {}, {}, &timeline});
    root.show();
    for (const auto& [range, shown] : {std::pair{ChartRange::Live, false}, {ChartRange::Hour1, true}, {ChartRange::Live, false}}) {
      other.chart.setRange(range);
      QTest::qWait(800);  // a refresh or two
      const QList<QLabel*> labels = root.statusBar()->findChildren<QLabel*>();
      EXPECT_EQ(std::ranges::any_of(labels, [&](QLabel* l) { return l->isVisibleTo(root.statusBar()) && l->text().startsWith(QString::fromUtf16(u"本程序启动前")); }), shown) << int(range);
    }
  }

  window->activateWindow();  // shortcuts and focus need the active window
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  for (const Qt::Key key : {Qt::Key_Alt, Qt::Key_F10}) {
    QTest::keyClick(window.get(), key);
    EXPECT_EQ(window->menuBar()->activeAction(), window->menuBar()->actions().front()) << key;
    QTest::keyClick(window->menuBar(), Qt::Key_Escape);
    QTest::keyClick(window->menuBar(), Qt::Key_Escape);
    EXPECT_EQ(window->menuBar()->activeAction(), nullptr) << key;
  }

  QTableView* list = window->listPane();
  QHeaderView* header = list->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(1) + 20, 5));
  list->setFocus();
  ASSERT_TRUE(list->hasFocus());
  const auto cell = [&](int column) {
    list->selectionModel()->setCurrentIndex(list->model()->index(0, column), QItemSelectionModel::NoUpdate);
    return list->viewport()->grab(list->visualRect(list->model()->index(0, 1))).toImage();
  };
  EXPECT_EQ(cell(1), cell(2));  // the current cell draws as any other
}

// What the chart pane puts on screen is its frame drawn straight onto an image, frame after
// frame: over a background kept from an earlier frame (new series only), a new background (a
// new scale) and the share panel; in a window that shows the pane whole, and in one where a
// sibling covers a corner of it.
TEST(QtChartWidgetTest, PutsOnScreenTheFrameAsDrawnStraight) {
  const ChartFonts fonts = makeChartFonts();
  constexpr int w = 900, h = 380;
  for (const bool covered : {false, true}) {
    SpeedChart chart;
    QWidget window;
    window.resize(w + 20, h + 30);
    QtChartWidget pane(chart, &window);
    pane.setGeometry(7, 13, w, h);
    QWidget corner(&window);
    corner.setAutoFillBackground(true);
    corner.setGeometry(w - 40, h - 40, 80, 80);
    corner.setVisible(covered);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto frameMatches = [&](const char* what) {
      // As a refresh asks: repainted only when the frame would differ from the one on screen.
      pane.requestRepaint();
      QApplication::processEvents();
      QImage straight(w, h, QImage::Format_RGB32);
      {
        QPainter painter(&straight);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        QtCanvas canvas(painter, fonts);
        chart.paint(canvas, w, h);
      }
      const QImage shown =
          window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
      int wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (!(covered && x >= w - 47 && y >= h - 53))
            wrong += shown.pixel(x + 7, y + 13) != straight.pixel(x, y);
      EXPECT_EQ(wrong, 0) << what << (covered ? ", covered" : "");
    };
    for (std::uint64_t i = 0; i < 100; ++i) chart.recordSample(400'000 + 30'000 * (i % 7), 100'000, {});
    frameMatches("first");
    chart.recordSample(500'000, 90'000, {NameRate{u"磁盘写手", 500'000, 90'000}});
    frameMatches("new series");
    chart.recordSample(90'000'000, 1'000, {NameRate{u"磁盘写手", 90'000'000, 1'000}});
    frameMatches("new scale");
    chart.mouseMove(w - 30, h / 2, w);
    frameMatches("share panel");
    frameMatches("unchanged");
  }
}

// The real program over the real /proc: its window appears, and SIGTERM (a session ending,
// `kill`) closes it like its close button, with exit code 0. As root with no session bus it
// runs no dbus-launch, though one comes first on PATH.
TEST(TessivoProgram, ShowsItsWindowAndClosesWithZeroOnSigterm) {
  QTemporaryDir bin;
  const QString ran = bin.filePath("ran"), fake = bin.filePath("dbus-launch");
  std::ofstream(fake.toStdString()) << "#!/bin/sh\necho \"$@\" >> '" << ran.toStdString() << "'\nexit 1\n";
  ASSERT_TRUE(QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PATH", bin.path() + ":" + env.value("PATH"));
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) env.remove(name);
  QProcess program;
  program.setProcessEnvironment(env);
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QStringLiteral(TESSIVO_PROGRAM), {});
  ASSERT_TRUE(program.waitForStarted(10'000));
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    QTest::qWait(100);
    QProcess look;
    look.setStandardOutputFile(QProcess::nullDevice());
    look.start(QStringLiteral("xwininfo"), {"-name", "Tessivo"});
    shown = look.waitForFinished(5'000) && look.exitCode() == 0;
  }
  ASSERT_TRUE(shown);
  QTest::qWait(500);  // a few refreshes
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(20'000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_FALSE(geteuid() == 0 && QFile::exists(ran));
}

// Its options are answered with no display at all; without one (none named, or one that is
// not there) it says so in one line and exits with 1.
TEST(TessivoProgram, AnswersItsOptionsWithoutADisplayAndSaysInOneLineThatThereIsNone) {
  for (auto [args, display, code, out, err] :
       {std::tuple{QStringList{"--help"}, "", 0, "Usage: tessivo", ""},
        {QStringList{"--version"}, "", 0, "tessivo ", ""},
        {QStringList{"--frobnicate"}, "", 2, "", "tessivo: unknown option '--frobnicate'\nUsage: tessivo"},
        {QStringList{}, "", 1, "", "tessivo: "}, {QStringList{}, ":4242", 1, "", "tessivo: "}}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    env.insert("DISPLAY", display);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(TESSIVO_PROGRAM), args);
    ASSERT_TRUE(program.waitForFinished(10'000));
    const std::string said = program.readAllStandardOutput().toStdString(),
                      complained = program.readAllStandardError().toStdString();
    const std::string what = (args.join(' ') + " DISPLAY=" + display).toStdString() + ": " + said + complained;
    EXPECT_EQ(std::tuple(program.exitStatus(), program.exitCode()), std::tuple(QProcess::NormalExit, code)) << what;
    EXPECT_TRUE(said.starts_with(out) && complained.starts_with(err) && said.empty() == !*out) << what;
    EXPECT_TRUE(code == 1 ? std::count(complained.begin(), complained.end(), '\n') == 1 : complained.empty() == !*err)
        << what;
  }
}

}  // namespace
}  // namespace tessivo
