// The main window from outside: start-up in both builds, the executable as built, the list's
// cells, order and 全部清除, the menu bar and its check marks, the panes and the timer.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

std::string box(RECT r) {
  return std::to_string(r.left) + ',' + std::to_string(r.top) + ',' + std::to_string(r.right) + ',' +
         std::to_string(r.bottom);
}

// The chart (when shown) across the top, 380 pixels high; the list below it to the bottom.
void expectPanes(Program& p, bool chartShown) {
  const RECT c = p.rect(p.main);
  const LONG top = chartShown ? 380 : 0;
  const std::string list = box({0, top, c.right, std::max(c.bottom, top)});
  EXPECT_TRUE(eventually([&] { return box(p.rect(p.list)) == list; }, 5'000)) << box(p.rect(p.list));
  EXPECT_EQ(IsWindowVisible(p.chart) ? box(p.rect(p.chart)) : "hidden",
            chartShown ? box({0, 0, c.right, 380}) : "hidden");
}

// The first look at the window, the same for both builds.
void expectStartUpWindow(Program& p) {
  RECT frame{};
  GetWindowRect(p.main, &frame);
  EXPECT_EQ(box(frame), box({frame.left, frame.top, frame.left + 1280, frame.top + 720}));
  wchar_t list[32] = {}, chart[32] = {};
  GetClassNameW(p.list, list, 32);
  GetClassNameW(p.chart, chart, 32);
  EXPECT_EQ(std::wstring(list) + L" " + chart, L"SysListView32 QuarnelSpeedChart");
  // The control adds its own scroll bars when the columns or rows do not fit.
  EXPECT_EQ(GetWindowLongPtrW(p.list, GWL_STYLE) & ~(WS_HSCROLL | WS_VSCROLL), 0x50001005);
  EXPECT_EQ(GetWindowLongPtrW(p.list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
  LRESULT styles = 0;
  p.send(p.list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0, &styles);
  EXPECT_EQ(styles, 0x10021);
  std::wstring columns;  // titles and widths, then nothing past the ninth
  for (int c = 0, width = 0; c < 10; ++c) {
    const std::wstring title = p.column(c, &width);
    columns += title + L' ' + std::to_wstring(width) + L'|';
  }
  EXPECT_EQ(columns,
            L"进程 180|PID 70|读取字节 130|写入字节 130|读取次数 110|写入次数 110|读取速度 120|"
            L"写入速度 120|映像路径 450| 0|");
  EXPECT_FALSE(p.table().empty());
  expectPanes(p, true);
}

// The row named want[0]; "*" matches any text.
void expectRow(Program& p, const Row& want) {
  Row got;
  for (const Row& row : p.table())
    if (row[0] == want[0]) got = row;
  for (std::size_t c = 0; c < want.size() && c < got.size(); ++c)
    if (want[c] == L"*") got[c] = L"*";
  EXPECT_EQ(got, want);
}

TEST_F(Scripted, StartUpShowsBothPanesWithTheListFilledBeforeTheFirstShow) {
  expectStartUpWindow(program);
  EXPECT_EQ(program.control->readsAtFirstShow, 1);  // the first refresh runs inside the creation
  EXPECT_EQ(program.control->rowsAtFirstShow, 4);   // the four applications of the script
  ASSERT_TRUE(program.waitForReads(15));
  EXPECT_GT(program.screenshot(L"startup.png"), 16) << "the window looks blank";
}

TEST(StartUp, ShippedProgramListsItselfAndClosesWithExitCodeZero) {
  Program program(paths.real);
  ASSERT_STARTED(program);
  expectStartUpWindow(program);
  // The real snapshot and path lookup see the program: an application row named after its
  // executable, with its full path; per process, a row with its own id.
  const auto find = [&](int column, const std::wstring& text) {
    for (const Row& row : program.table())
      if (_wcsicmp(row[static_cast<std::size_t>(column)].c_str(), text.c_str()) == 0) return row;
    return Row(9);
  };
  const Row own = find(0, L"tessivo.exe");
  std::wstring path = own[8];
  CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
  EXPECT_EQ(own[1], L"-");
  EXPECT_TRUE(path.ends_with(L"\\src\\win32\\tessivo.exe")) << own[8];
  ASSERT_TRUE(program.command(40003));
  std::wstring pid = std::to_wstring(program.processId());
  for (auto at = static_cast<std::ptrdiff_t>(pid.size()) - 3; at > 0; at -= 3)
    pid.insert(pid.begin() + at, L',');
  EXPECT_EQ(_wcsicmp(find(1, pid)[0].c_str(), L"tessivo.exe"), 0) << "no row for pid " << pid;
  EXPECT_EQ(program.close(), 0);
}

TEST(StartUp, TwoCopiesRunSideBySideAndShareNothing) {
  Program first, second;
  ASSERT_STARTED(first);
  ASSERT_STARTED(second);
  EXPECT_NE(first.main, second.main);
  ASSERT_TRUE(first.command(40003));  // one copy's setting is not the other's
  EXPECT_EQ(first.table().size(), 6u);
  EXPECT_EQ(second.table().size(), 4u);
  EXPECT_EQ(first.close(), 0);
  EXPECT_TRUE(second.waitForReads(second.reads() + 2)) << "the second copy stopped with the first";
  EXPECT_EQ(second.close(), 0);
}

// A 64-bit GUI program whose only resource is its manifest, needing no MinGW runtime DLL.
TEST(StartUp, ShippedExecutableCarriesItsManifestAndNothingElse) {
  HMODULE image =
      LoadLibraryExW(paths.real.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();
  std::vector<ULONG_PTR> types;
  EnumResourceTypesW(
      image,
      [](HMODULE, LPWSTR type, LONG_PTR to) -> BOOL {
        reinterpret_cast<std::vector<ULONG_PTR>*>(to)->push_back(reinterpret_cast<ULONG_PTR>(type));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, std::vector<ULONG_PTR>{24}) << "resource types other than the manifest";
  HRSRC found = FindResourceExW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                             SizeofResource(image, found));
  for (const char* part :
       {"name=\"Quarnel\"", "version=\"1.0.0.0\"", "Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
        "6595b64144ccf1df", "level=\"requireAdministrator\"", "uiAccess=\"false\"", ">true<",
        "PerMonitorV2, PerMonitor, System", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"})
    EXPECT_NE(manifest.find(part), std::string::npos) << "manifest lacks " << part;
  FreeLibrary(image);
  std::ifstream file(std::filesystem::path(paths.real), std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(file), {}};
  ASSERT_GT(content.size(), 4096u);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      content.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(content.data())->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  for (const char* runtime : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"})
    EXPECT_EQ(content.find(runtime), std::string::npos) << "imports " << runtime;
}

// 按应用分组 and the counting modes reach the list (their rules are the core's): one row per
// application or per process; Backup.exe reads nothing after the start, so its bytes read are
// 0 counted from the start, and its total from before under 系统累计.
TEST_F(Scripted, GroupingAndCountingModeCommandsReachTheList) {
  ASSERT_TRUE(program.waitForReads(4));
  const struct {
    int command;  // 0: as started
    std::size_t rows;
    const wchar_t *pid, *readBytes;
  } steps[] = {{0, 4, L"-", L"0"},
               {40003, 6, L"12,345", L"0"},
               {40005, 6, L"12,345", L"1,234,567,890"},
               {40003, 4, L"-", L"1,234,567,890"},
               {40004, 4, L"-", L"0"}};
  for (const auto& step : steps) {
    SCOPED_TRACE("after command " + std::to_string(step.command));
    ASSERT_TRUE(step.command == 0 || program.command(step.command));
    EXPECT_EQ(program.table().size(), step.rows);
    expectRow(program, {L"Backup.exe", step.pid, step.readBytes, L"*", L"*", L"*", L"0.0 KiB/s", L"*",
                        L"D:\\Tools\\Backup.exe"});
  }
}

// A click on another column sorts by it ascending, a second click reverses; names break ties
// in ascending order whichever the direction (Backup.exe and （未知） read nothing).
TEST_F(Scripted, HeaderClicksSortByTheirColumnAndASecondClickReverses) {
  ASSERT_TRUE(program.waitForReads(3));
  const struct {
    int click;  // -1: as started, by bytes read, largest first
    std::vector<std::wstring> names;
  } steps[] = {{-1, {L"Editor.exe", L"System", L"Backup.exe", L"（未知）"}},
               {0, {L"Backup.exe", L"Editor.exe", L"System", L"（未知）"}},
               {0, {L"（未知）", L"System", L"Editor.exe", L"Backup.exe"}},
               {6, {L"Backup.exe", L"（未知）", L"System", L"Editor.exe"}},  // read speed
               {6, {L"Editor.exe", L"System", L"Backup.exe", L"（未知）"}}};
  for (const auto& step : steps) {
    ASSERT_TRUE(step.click < 0 || program.clickHeader(step.click));
    std::vector<std::wstring> names;
    for (const Row& row : program.table()) names.push_back(row[0]);
    EXPECT_EQ(names, step.names) << "after a click on column " << step.click;
  }
}

TEST_F(Scripted, ClearAllEmptiesTheListUntilTheNextTickWhichCountsFromZero) {
  ASSERT_TRUE(program.command(40025));  // a tick every 2 s leaves time to look in between
  std::int64_t cleared = -1, shown = -2;
  for (int attempt = 0; attempt < 5 && shown != cleared; ++attempt) {
    ASSERT_TRUE(program.waitForReads(program.reads() + 1));
    cleared = program.reads();
    ASSERT_TRUE(program.command(40001));
    EXPECT_TRUE(program.table(&shown).empty() || shown != cleared);  // a tick in between refills it
  }
  ASSERT_EQ(shown, cleared) << "no clear fell between two ticks";
  const std::wstring editor = L"C:\\Program Files\\Editor\\Editor.exe";
  ASSERT_TRUE(program.waitForReads(cleared + 1));
  EXPECT_EQ(program.table().size(), 4u);
  expectRow(program, {L"Editor.exe", L"-", L"0", L"0", L"0", L"0", L"0.0 KiB/s", L"0.0 KiB/s", editor});
  // One step of both members; the speeds are their first smoothed readings.
  ASSERT_TRUE(program.waitForReads(cleared + 2));
  expectRow(program,
            {L"Editor.exe", L"-", L"399,600", L"33,300", L"12", L"1", L"97.6 KiB/s", L"8.1 KiB/s", editor});
}

TEST_F(Scripted, MenuBarHoldsEveryItemAndEachCommandMovesItsCheckMark) {
  std::wstring expected =
      L"程序{全部清除#40001|按应用分组#40003*|-|计数模式：本次增量#40004*|计数模式：系统累计#40005|-|"
      L"显示速度图表#40006*|-|关于#40002}|视图{范围：实时（快速）#40010*|范围：1 小时（60 秒）#40011|"
      L"范围：24 小时（60 秒）#40012|范围：完整保留（60 秒）#40013}|设置{采样率{100 毫秒#40020|"
      L"250 毫秒#40021|333 毫秒（默认）#40022*|500 毫秒#40023|1 秒#40024|2 秒#40025}|保留时长{"
      L"1 小时#40030|6 小时#40031|24 小时#40032|72 小时（默认）#40033*|7 天（168 小时）#40034}}";
  EXPECT_EQ(program.menu(), expected);
  const auto mark = [&](int id, bool on) {
    const std::size_t at = expected.find(L"#" + std::to_wstring(id)) + 6;
    if ((expected[at] == L'*') != on) on ? expected.insert(at, 1, L'*') : expected.erase(at, 1);
  };
  const std::vector<std::vector<int>> radioGroups = {{40004, 40005},
                                                     {40010, 40011, 40012, 40013},
                                                     {40020, 40021, 40022, 40023, 40024, 40025},
                                                     {40030, 40031, 40032, 40033, 40034}};
  for (int id : {40003, 40003, 40005, 40005, 40004, 40006, 40006, 40011, 40012, 40013, 40013, 40010, 40020,
                 40021, 40023, 40024, 40025, 40025, 40022, 40030, 40031, 40032, 40034, 40033, 40001}) {
    ASSERT_TRUE(program.command(id)) << "command " << id << " got no answer";
    for (const auto& group : radioGroups)
      for (int member : group)
        if (std::count(group.begin(), group.end(), id)) mark(member, member == id);
    if (id == 40003 || id == 40006) mark(id, expected.find(std::to_wstring(id) + L"*") == std::wstring::npos);
    EXPECT_EQ(program.menu(), expected) << "after command " << id;
  }
}

TEST_F(Scripted, ChartToggleAndResizeLayThePanesOutAtOnce) {
  ASSERT_TRUE(program.command(40006));
  expectPanes(program, false);
  ASSERT_TRUE(program.command(40006));
  expectPanes(program, true);
  for (SIZE size : {SIZE{900, 600}, SIZE{700, 300}}) {  // smaller, then lower than the chart
    ASSERT_TRUE(SetWindowPos(program.main, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER));
    expectPanes(program, true);
  }
}

TEST_F(Scripted, SamplingIntervalMenuChangesTheTickRate) {
  const auto meanGap = [&](int command, int gaps) {  // over the first `gaps` after the change
    if (!program.command(command)) return -1.0;
    const std::int64_t from = program.reads() + 1;
    if (!program.waitForReads(from + gaps, 30'000)) return -1.0;
    const auto tick = [&](std::int64_t n) { return program.control->readTicks[n % script::kReadTimeSlots]; };
    return static_cast<double>(tick(from + gaps) - tick(from)) / gaps;
  };
  const double slow = meanGap(40025, 2);  // 2 秒
  EXPECT_TRUE(slow >= 1'900 && slow <= 4'000) << slow;
  const double fast = meanGap(40020, 20);  // 100 毫秒; the 333 ms default would give 333
  EXPECT_TRUE(fast >= 90 && fast <= 250) << fast;
}

}  // namespace
}  // namespace tessivo::e2e
