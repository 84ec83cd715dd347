// The programs from outside, with Win32 calls only: windows found by class, the list read through its
// own messages with buffers in the program's memory, ended the way a user would.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace tessivo::e2e {
namespace {

std::wstring scriptedExe, realExe;      // from the command line
using Row = std::vector<std::wstring>;  // the nine cell texts
using Table = std::vector<Row>;

// Polls every 20 ms until the condition holds; false when it did not in time.
template <typename Condition>
bool eventually(Condition condition, DWORD timeoutMs = 10'000) {
  for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !condition(); Sleep(20))
    if (GetTickCount64() >= deadline) return false;
  return true;
}

class Program {
 public:
  // Starts the program and waits (long: Wine may start slowly on a loaded machine) until its
  // main window is up, idle and, unless started minimised, visible. The destructor ends it.
  explicit Program(const std::wstring& exe = scriptedExe, int showCommand = SW_SHOWNORMAL) {
    STARTUPINFOW startup{};
    std::tie(startup.cb, startup.dwFlags, startup.wShowWindow) =
        std::tuple(sizeof startup, STARTF_USESHOWWINDOW, static_cast<WORD>(showCommand));
    const bool up =  // no command line: the programs read none
        CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_) &&
        eventually([&] {
          main = window(L"QuarnelWindow", L"Tessivo", 0);
          return exitCode(0) >= 0 || (main && WaitForInputIdle(process_.hProcess, 100) == 0 &&
                                      (showCommand == SW_SHOWMINIMIZED || IsWindowVisible(main)));
        }, 120'000);
    list = GetDlgItem(main, 1001);
    chart = GetDlgItem(main, 1002);
    if (up && exitCode(0) < 0)
      remote_ = static_cast<char*>(VirtualAllocEx(process_.hProcess, nullptr, 64 * 1024,
                                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  Program(Program&&) = delete;  // and so neither copied nor assigned
  ~Program() {  // also when it never started: the calls then fail harmlessly
    if (exitCode(0) < 0 && TerminateProcess(process_.hProcess, 99)) exitCode(10'000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  bool started() const { return remote_ != nullptr; }
  DWORD processId() const { return process_.dwProcessId; }
  HWND main = nullptr, list = nullptr, chart = nullptr;

  // Sent with a 10 s time-out, false on time-out; posted to the main window.
  bool send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, DWORD_PTR* result = nullptr) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10'000, result) != 0;
  }
  bool command(int id) { return send(main, WM_COMMAND, static_cast<WPARAM>(id)); }
  void post(UINT message, WPARAM w = 0, LPARAM l = 0) { PostMessageW(main, message, w, l); }
  long exitCode(DWORD timeoutMs = 30'000) {  // once the process ended; -1 while it runs
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process_.hProcess, &code) ? static_cast<long>(code) : -1;
  }
  long close() { return post(WM_CLOSE), exitCode(); }

  // The whole list, read while no snapshot came in; that snapshot's number in atRead.
  Table table(std::int64_t* atRead = nullptr) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::int64_t before = reads();
      DWORD_PTR rows = 0;
      Table out(send(list, LVM_GETITEMCOUNT, 0, 0, &rows) ? rows : 0);
      for (std::size_t r = 0; r < out.size(); ++r)
        for (LVITEMW item{}; item.iSubItem < 9; ++item.iSubItem)
          out[r].push_back(exchange(list, LVM_GETITEMTEXTW, r, item));
      if (reads() != before) continue;
      if (atRead != nullptr) *atRead = before;
      return out;
    }
    ADD_FAILURE() << "the list could not be read between two snapshots";
    return {};
  }
  bool clickHeader(int column) {  // button down and up in the middle of the column's header
    HWND header = ListView_GetHeader(list);
    RECT r{};
    exchange(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), r);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return r.right > r.left && send(header, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
           send(header, WM_LBUTTONUP, 0, at);
  }

  RECT rect(HWND window) {  // the main window's client area, or a pane in client coordinates
    RECT r{};
    if (window == main) return GetClientRect(main, &r), r;
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  bool trayIcon(DWORD message = NIM_MODIFY) {  // NIM_MODIFY succeeds only for an icon that exists
    NOTIFYICONDATAW data{};
    std::tie(data.cbSize, data.hWnd, data.uID) = std::tuple(sizeof data, main, 1);
    return Shell_NotifyIconW(message, &data) != FALSE;
  }
  // A top-level window of the program by class and (unless null) caption, visible if asked, or null.
  HWND window(const wchar_t* className, const wchar_t* caption = nullptr, DWORD timeoutMs = 10'000,
              bool visible = false) {
    HWND found = nullptr;
    eventually([&] {
      for (DWORD owner = 0; (found = FindWindowExW(nullptr, found, className, caption)) != nullptr;)
        if (GetWindowThreadProcessId(found, &owner) && owner == process_.dwProcessId &&
            (!visible || IsWindowVisible(found)))
          return true;
      return false;
    }, timeoutMs);
    return found;
  }
  // The scripted build's count of snapshots so far, or of those and of rows at the first show.
  std::int64_t reads(const wchar_t* what = L"Reads") const {
    return reinterpret_cast<std::intptr_t>(GetPropW(main, (L"TessivoScript." + std::wstring(what)).c_str()));
  }
  bool waitForReads(std::int64_t count, DWORD timeoutMs = 20'000) {
    return eventually([&] { return reads() >= count; }, timeoutMs);
  }

 private:
  // The record and its text sent in the program's memory and read back; the text or "<no answer>".
  template <typename T>
  std::wstring exchange(HWND window, UINT message, WPARAM wParam, T& record) {
    std::wstring text(4096, L'\0');
    auto* remoteText = reinterpret_cast<wchar_t*>(remote_ + 1024);
    if constexpr (requires { record.pszText; })
      std::tie(record.pszText, record.cchTextMax) = std::tuple(remoteText, static_cast<int>(text.size()));
    HANDLE p = process_.hProcess;
    if (!WriteProcessMemory(p, remote_, &record, sizeof record, nullptr) ||
        !WriteProcessMemory(p, remoteText, text.data(), sizeof(wchar_t), nullptr) ||
        !send(window, message, wParam, reinterpret_cast<LPARAM>(remote_)) ||
        !ReadProcessMemory(p, remote_, &record, sizeof record, nullptr) ||
        !ReadProcessMemory(p, remoteText, text.data(), text.size() * sizeof(wchar_t), nullptr))
      return L"<no answer>";
    text.resize(std::wcslen(text.c_str()));
    return text;
  }

  PROCESS_INFORMATION process_{};
  char* remote_ = nullptr;  // a page of the program's memory for the list view's messages
};

#define ASSERT_STARTED(p) ASSERT_TRUE((p).started()) << "no main window; exit code " << (p).exitCode(0)

constexpr UINT kTrayMessage = WM_APP + 1;  // the icon's messages to the main window
std::vector<LONG> box(RECT r) { return {r.left, r.top, r.right, r.bottom}; }

// The chart (when shown) across the top, 380 pixels high; the list below it to the bottom.
void expectPanes(Program& p, bool chartShown) {
  const RECT c = p.rect(p.main);
  const LONG top = chartShown ? 380 : 0;
  const std::vector<LONG> list = box({0, top, c.right, std::max(c.bottom, top)});
  eventually([&] { return box(p.rect(p.list)) == list; }, 5'000);
  EXPECT_EQ(box(p.rect(p.list)), list);
  EXPECT_EQ(IsWindowVisible(p.chart) ? box(p.rect(p.chart)) : box({}),  // hidden: none
            box({0, 0, chartShown ? c.right : 0, top}));
}

Row find(const Table& table, std::size_t column, const std::wstring& text) {  // in any case; or blanks
  for (const Row& row : table)
    if (_wcsicmp(row[column].c_str(), text.c_str()) == 0) return row;
  return Row(9);
}

bool minimise(Program& p) {  // true once the window hides behind its icon
  p.post(WM_SYSCOMMAND, SC_MINIMIZE);
  return eventually([&] { return IsIconic(p.main) && !IsWindowVisible(p.main) && p.trayIcon(); }, 5'000);
}
bool restored(Program& p) {  // true once shown again, without its icon
  return eventually([&] { return IsWindowVisible(p.main) && !IsIconic(p.main) && !p.trayIcon(); });
}

// The popup menu the icon's event opens, or null; a closed menu's window may linger hidden.
HWND iconMenu(Program& p, LPARAM event) {
  p.post(kTrayMessage, 1, event);
  return p.window(L"#32768", nullptr, 10'000, true);
}

// The real snapshot and path lookup see the program: a row named after it with its full path, per
// process one with its own id. A scripted copy beside it shares neither its setting nor its end.
TEST(StartUp, ShippedProgramListsItselfBesideAnotherCopyClosesWithZeroAndIsBuiltAsShipped) {
  Program other, program(realExe);
  ASSERT_STARTED(other);
  ASSERT_STARTED(program);
  std::wstring path = find(program.table(), 0, L"tessivo.exe")[8];
  CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
  EXPECT_TRUE(path.ends_with(L"\\src\\win32\\tessivo.exe")) << path;
  ASSERT_TRUE(program.command(40003));
  std::wstring pid = find(program.table(), 0, L"tessivo.exe")[1];
  std::erase(pid, L',');
  EXPECT_EQ(pid, std::to_wstring(program.processId())) << "per process, its own id";
  EXPECT_EQ(other.table().size(), 4u) << "one copy's grouping reached the other";
  EXPECT_EQ(program.close(), 0);
  EXPECT_TRUE(other.waitForReads(other.reads() + 2)) << "the other copy stopped with the first";
  EXPECT_EQ(other.close(), 0);
  // As built: a 64-bit GUI program with its manifest, needing no MinGW runtime DLL. Mapped as an
  // image without running it: the handle's low bits mark it as such.
  HMODULE image = LoadLibraryExW(realExe.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();
  HRSRC found = FindResourceExW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
  ASSERT_NE(found, nullptr) << "no manifest resource";
  const std::string_view manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                                  SizeofResource(image, found));
  for (const char* part : {"level=\"requireAdministrator\"", "Microsoft.Windows.Common-Controls\"",
                           "version=\"6.0.0.0\"", "PerMonitorV2, PerMonitor, System"})
    EXPECT_NE(manifest.find(part), std::string::npos) << "manifest lacks " << part;
  const auto* base = reinterpret_cast<const char*>(reinterpret_cast<UINT_PTR>(image) & ~UINT_PTR{3});
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  for (const char* runtime : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"})
    EXPECT_EQ(std::string_view(base, nt->OptionalHeader.SizeOfImage).find(runtime), std::string::npos)
        << "imports " << runtime;
  FreeLibrary(image);
}

// Header clicks: another column sorts by it ascending, a second click reverses; names break ties in
// ascending order either way (Backup.exe and （未知） read nothing). Click -1: as started, by bytes read,
// largest first. Then 按应用分组 and the counting modes (their rules are the core's): a row per
// application or per process; Backup.exe's bytes read are 0 counted from the start, its total from
// before under 系统累计; command 0: as the clicks left it. Then the panes as at start-up, the list filled
// before the first show (in the first refresh, with the script's four applications); the chart's toggle
// and resizing lay them out anew at once, down to a window lower than the chart.
TEST(Scripted, HeaderClicksSortCommandsReachTheListAndThePanesFollowTheChartAndTheSize) {
  Program program;
  ASSERT_STARTED(program);
  ASSERT_TRUE(program.waitForReads(4));
  const struct { int click; std::vector<std::wstring> names; } clicks[] = {
      {-1, {L"Editor.exe", L"System", L"Backup.exe", L"（未知）"}},
      {0, {L"Backup.exe", L"Editor.exe", L"System", L"（未知）"}},
      {0, {L"（未知）", L"System", L"Editor.exe", L"Backup.exe"}},
      {6, {L"Backup.exe", L"（未知）", L"System", L"Editor.exe"}},  // read speed
      {6, {L"Editor.exe", L"System", L"Backup.exe", L"（未知）"}}};
  for (const auto& step : clicks) {
    ASSERT_TRUE(step.click < 0 || program.clickHeader(step.click));
    std::vector<std::wstring> names;
    for (const Row& row : program.table()) names.push_back(row[0]);
    EXPECT_EQ(names, step.names) << "after a click on column " << step.click;
  }
  const struct { int command; std::size_t rows; const wchar_t *pid, *readBytes; } commands[] = {
      {0, 4, L"-", L"0"}, {40003, 6, L"12,345", L"0"}, {40005, 6, L"12,345", L"1,234,567,890"},
      {40003, 4, L"-", L"1,234,567,890"}, {40004, 4, L"-", L"0"}};
  for (const auto& step : commands) {
    ASSERT_TRUE(step.command == 0 || program.command(step.command));
    const Table table = program.table();
    const Row backup = find(table, 0, L"Backup.exe");
    EXPECT_EQ(table.size(), step.rows) << "after command " << step.command;
    EXPECT_EQ(Row({backup[1], backup[2], backup[6], backup[8]}),
              Row({step.pid, step.readBytes, L"0.0 KiB/s", L"D:\\Tools\\Backup.exe"}))
        << "after command " << step.command;
  }
  expectPanes(program, true);
  EXPECT_EQ(program.reads(L"ReadsAtFirstShow"), 1);
  EXPECT_EQ(program.reads(L"RowsAtFirstShow"), 4);
  for (bool shown : {false, true}) {
    ASSERT_TRUE(program.command(40006));
    expectPanes(program, shown);
  }
  for (SIZE size : {SIZE{900, 600}, SIZE{700, 300}}) {
    ASSERT_TRUE(SetWindowPos(program.main, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER));
    expectPanes(program, true);
  }
}

// At 2 秒 a tick leaves time to look in between: 全部清除 empties the list at once (what it shows
// next is the core's). The About box then shows its text while sampling goes on; closing with it
// open ends with 0.
TEST(Scripted, ClearAllEmptiesTheListAndTheAboutBoxKeepsSampling) {
  Program program;
  ASSERT_STARTED(program);
  ASSERT_TRUE(program.command(40025));
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
  program.post(WM_COMMAND, 40002);
  HWND box = program.window(L"#32770", L"关于");
  ASSERT_NE(box, nullptr) << "no About box";
  EXPECT_EQ(GetWindow(box, GW_OWNER), program.main);
  wchar_t text[512] = {};  // the one static control with a text; the other holds the icon
  for (HWND c = nullptr; !*text && (c = FindWindowExW(box, c, L"Static", nullptr)) != nullptr;)
    GetWindowTextW(c, text, 512);
  EXPECT_STREQ(text, L"Tessivo\n刷新间隔：333 毫秒\n数据来源：NtQuerySystemInformation(SystemProcessInformation)。");
  EXPECT_TRUE(program.waitForReads(program.reads() + 1)) << "its modal loop stopped the timer";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(eventually([&] { return !IsWindow(box); }));
  EXPECT_TRUE(IsWindowVisible(program.main));
  program.post(WM_COMMAND, 40002);
  ASSERT_NE(program.window(L"#32770", L"关于"), nullptr);
  EXPECT_EQ(program.close(), 0);
}

// Started minimised, it hides behind the icon at once; a shell restart leaves icon and window hidden.
// Each icon click restores it, laid out again, without the icon; sampling goes on behind the icon and
// under its menu. With no icon (the driver takes its place first in Wine's notification area, which
// always takes one) it stays minimised on the taskbar.
TEST(Tray, TheIconHidesTheWindowItsEventsAndMenuRestoreOrEndItAndWithoutOneItStaysOnTheTaskbar) {
  Program program(scriptedExe, SW_SHOWMINIMIZED);
  ASSERT_STARTED(program);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(program.main) && program.trayIcon(); }));
  ASSERT_TRUE(program.send(program.main, RegisterWindowMessageW(L"TaskbarCreated")));
  EXPECT_TRUE(!IsWindowVisible(program.main) && program.trayIcon()) << "shown, or the icon lost";
  for (UINT event : {NIN_SELECT, WM_LBUTTONUP, WM_LBUTTONDBLCLK}) {
    SCOPED_TRACE("event " + std::to_string(event));
    EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000)) << "sampling stopped behind the icon";
    program.post(kTrayMessage, 1, event);
    EXPECT_TRUE(restored(program)) << "not restored, or an icon outlived the restore";
    EXPECT_EQ(program.rect(program.list).right, program.rect(program.main).right) << "not laid out again";
    ASSERT_TRUE(minimise(program)) << "no icon";
  }
  // Events of another icon, or of no interest, change nothing; the right button opens the
  // icon's menu and cancelling it leaves the icon.
  program.post(kTrayMessage, 2, WM_LBUTTONUP);
  program.post(kTrayMessage, 1, WM_MOUSEMOVE);
  HWND popup = iconMenu(program, WM_RBUTTONUP);
  ASSERT_NE(popup, nullptr);
  EXPECT_FALSE(IsWindowVisible(program.main));
  program.post(WM_CANCELMODE);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(popup); }));
  EXPECT_TRUE(program.trayIcon());
  ASSERT_NE(popup = iconMenu(program, WM_CONTEXTMENU), nullptr);
  EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000)) << "the timer stopped under the menu";
  PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);  // 还原, the first item; keys reach it through the queue
  PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_TRUE(restored(program));
  ASSERT_TRUE(program.trayIcon(NIM_ADD)) << "cannot occupy the icon's place";
  program.post(WM_SYSCOMMAND, SC_MINIMIZE);
  EXPECT_TRUE(eventually([&] { return IsIconic(program.main) != FALSE; }));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(program.main)) << "hidden with no icon to bring it back";
  program.trayIcon(NIM_DELETE);
  program.post(WM_SYSCOMMAND, SC_RESTORE);  // as the taskbar button does
  EXPECT_TRUE(restored(program));
  ASSERT_TRUE(minimise(program)) << "with the place free, the next minimise hides it behind its icon";
  ASSERT_NE(popup = iconMenu(program, WM_RBUTTONUP), nullptr);
  PostMessageW(popup, WM_KEYDOWN, VK_UP, 0);  // 退出, the last item
  PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
  // Its icon's removal is checked in process: Wine drops a destroyed window's icons itself.
  EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
}  // namespace tessivo::e2e

// Usage: e2e_driver <scripted_tessivo.exe> <tessivo.exe> [GoogleTest flags]
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 3) return 2;
  tessivo::e2e::scriptedExe = argv[1];
  tessivo::e2e::realExe = argv[2];
  return RUN_ALL_TESTS();
}
