// The main window from outside: the shipped program and the executable as built, the list's
// cells, order and 全部清除, the panes from start-up on, the timer.
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

// The real snapshot and path lookup see the program: an application row named after its
// executable, with its full path; per process, a row with its own id. A scripted copy runs
// beside it and shares nothing: neither its setting nor its end.
TEST(StartUp, ShippedProgramListsItselfBesideAnotherCopyAndClosesWithExitCodeZero) {
  Program other, program(paths.real);
  ASSERT_STARTED(other);
  ASSERT_STARTED(program);
  expectPanes(program, true);
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
  EXPECT_EQ(other.table().size(), 4u) << "one copy's grouping reached the other";
  EXPECT_EQ(program.close(), 0);
  EXPECT_TRUE(other.waitForReads(other.reads() + 2)) << "the other copy stopped with the first";
  EXPECT_EQ(other.close(), 0);
}

// A 64-bit GUI program carrying its manifest, needing no MinGW runtime DLL.
TEST(StartUp, ShippedExecutableIsA64BitGuiProgramWithItsManifest) {
  HMODULE image =
      LoadLibraryExW(paths.real.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();
  HRSRC found = FindResourceExW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
  ASSERT_NE(found, nullptr) << "no manifest resource";
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                             SizeofResource(image, found));
  for (const char* part : {"level=\"requireAdministrator\"", "Microsoft.Windows.Common-Controls\"",
                           "version=\"6.0.0.0\"", "PerMonitorV2, PerMonitor, System"})
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
    const Table table = program.table();
    const auto backup =
        std::find_if(table.begin(), table.end(), [](const Row& r) { return r[0] == L"Backup.exe"; });
    ASSERT_EQ(table.size(), step.rows);
    ASSERT_NE(backup, table.end());
    EXPECT_EQ(Row({(*backup)[1], (*backup)[2], (*backup)[6], (*backup)[8]}),
              Row({step.pid, step.readBytes, L"0.0 KiB/s", L"D:\\Tools\\Backup.exe"}));
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

// What the list shows after the clear is the core's; here the command empties the list at once.
TEST_F(Scripted, ClearAllEmptiesTheListUntilTheNextTick) {
  ASSERT_TRUE(program.command(40025));  // a tick every 2 s leaves time to look in between
  std::int64_t cleared = -1, shown = -2;
  for (int attempt = 0; attempt < 5 && shown != cleared; ++attempt) {
    ASSERT_TRUE(program.waitForReads(program.reads() + 1));
    cleared = program.reads();
    ASSERT_TRUE(program.command(40001));
    EXPECT_TRUE(program.table(&shown).empty() || shown != cleared);  // a tick in between refills it
  }
  ASSERT_EQ(shown, cleared) << "no clear fell between two ticks";
  ASSERT_TRUE(program.waitForReads(cleared + 1));
  EXPECT_EQ(program.table().size(), 4u);
}

// Both panes at start-up with the list filled before the first show; the chart's toggle and
// resizing lay them out anew at once.
TEST_F(Scripted, PanesAtStartUpAndAfterTheChartToggleAndResizes) {
  expectPanes(program, true);
  EXPECT_EQ(program.reads(L"ReadsAtFirstShow"), 1);  // the first refresh runs inside the creation
  EXPECT_EQ(program.reads(L"RowsAtFirstShow"), 4);   // the four applications of the script
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
    if (!program.command(command) || !program.waitForReads(program.reads() + 1)) return -1.0;
    const std::int64_t from = program.reads();
    const ULONGLONG start = GetTickCount64();
    if (!program.waitForReads(from + gaps, 30'000)) return -1.0;
    return static_cast<double>(GetTickCount64() - start) / gaps;
  };
  const double slow = meanGap(40025, 2);  // 2 秒
  EXPECT_TRUE(slow >= 1'900 && slow <= 4'000) << slow;
  const double fast = meanGap(40020, 20);  // 100 毫秒; the 333 ms default would give 333
  EXPECT_TRUE(fast >= 90 && fast <= 250) << fast;
}

}  // namespace
}  // namespace tessivo::e2e

// Usage: e2e_driver <scripted_tessivo.exe> <tessivo.exe> [GoogleTest flags]
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 3) return 2;
  tessivo::e2e::paths = {argv[1], argv[2]};
  return RUN_ALL_TESTS();
}
