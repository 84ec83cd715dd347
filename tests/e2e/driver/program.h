// One running copy of the program under test, driven from outside with Win32 calls only:
// started with CreateProcessW, its windows found by class, the list view read through its
// own messages with buffers placed in the program's memory, ended the way a user would.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace tessivo::e2e {

struct Paths {
  std::wstring scripted, real;  // scripted_tessivo.exe, tessivo.exe
};
inline Paths paths;                     // from the command line
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
  // Starts the program and waits until its main window is up, idle and (unless started
  // minimised) visible. The destructor ends a program still running.
  explicit Program(const std::wstring& exe = paths.scripted, int showCommand = SW_SHOWNORMAL) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      failure = L"CreateProcessW(" + exe + L") failed, error " + std::to_wstring(GetLastError());
      return;
    }
    // The window exists from the start of its creation; its panes and first refresh are there
    // once the program waits for input. Generous: a loaded machine may be slow to start Wine.
    const bool up = eventually(
        [&] {
          main = window(L"QuarnelWindow", L"Tessivo", 0);
          return exitCode(0) >= 0 || (main && WaitForInputIdle(process_.hProcess, 100) == 0 &&
                                      (showCommand == SW_SHOWMINIMIZED || IsWindowVisible(main)));
        },
        120'000);
    if (!up || exitCode(0) >= 0) {
      failure = L"no window QuarnelWindow \"Tessivo\"; exit code " + std::to_wstring(exitCode(0));
      return;
    }
    list = GetDlgItem(main, 1001);
    chart = GetDlgItem(main, 1002);
    remote_ = static_cast<char*>(
        VirtualAllocEx(process_.hProcess, nullptr, 64 * 1024, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote_ == nullptr) failure = L"VirtualAllocEx failed, error " + std::to_wstring(GetLastError());
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (process_.hProcess == nullptr) return;
    if (exitCode(0) < 0 && TerminateProcess(process_.hProcess, 99)) exitCode(10'000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  bool started() const { return remote_ != nullptr; }
  std::wstring failure;
  DWORD processId() const { return process_.dwProcessId; }
  HWND main = nullptr, list = nullptr, chart = nullptr;

  // Sent with a 10 s time-out, false on time-out; posted to the main window.
  bool send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, LRESULT* result = nullptr) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10'000, &answer))
      return false;
    if (result != nullptr) *result = static_cast<LRESULT>(answer);
    return true;
  }
  bool command(int id) { return send(main, WM_COMMAND, static_cast<WPARAM>(id)); }
  void post(UINT message, WPARAM w = 0, LPARAM l = 0) { PostMessageW(main, message, w, l); }
  long exitCode(DWORD timeoutMs = 30'000) {  // once the process ended; -1 while it runs
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process_.hProcess, &code) ? static_cast<long>(code) : -1;
  }
  long close(UINT message = WM_CLOSE, WPARAM wParam = 0) { return post(message, wParam), exitCode(); }

  // The whole list, read while no snapshot came in; that snapshot's number in atRead.
  Table table(std::int64_t* atRead = nullptr) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::int64_t before = reads();
      LRESULT rows = 0;
      Table out(send(list, LVM_GETITEMCOUNT, 0, 0, &rows) ? static_cast<std::size_t>(rows) : 0);
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
  bool trayIcon() {  // NIM_MODIFY succeeds only for an icon that exists
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = main;
    data.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  }
  // A top-level window of the program, by class and (unless null) caption, visible if asked;
  // null if none came.
  HWND window(const wchar_t* className, const wchar_t* caption = nullptr, DWORD timeoutMs = 10'000,
              bool visible = false) {
    HWND found = nullptr;
    eventually(
        [&] {
          DWORD owner = 0;
          while ((found = FindWindowExW(nullptr, found, className, caption)) != nullptr)
            if (GetWindowThreadProcessId(found, &owner) && owner == process_.dwProcessId &&
                (!visible || IsWindowVisible(found)))
              return true;
          return false;
        },
        timeoutMs);
    return found;
  }
  // What the scripted build tells (see there): the snapshots so far, or at the first show and the
  // rows then; 0 from the shipped program.
  std::int64_t reads(const wchar_t* what = L"Reads") const {
    return reinterpret_cast<std::intptr_t>(GetPropW(main, (L"TessivoScript." + std::wstring(what)).c_str()));
  }
  bool waitForReads(std::int64_t count, DWORD timeoutMs = 20'000) {
    return eventually([&] { return reads() >= count; }, timeoutMs);
  }

 private:
  // Places the record (and room for its text) in the program's memory, sends the message with
  // its address and reads both back. Returns the text, or "<no answer>".
  template <typename T>
  std::wstring exchange(HWND window, UINT message, WPARAM wParam, T& record) {
    std::wstring text(4096, L'\0');
    auto* remoteText = reinterpret_cast<wchar_t*>(remote_ + 1024);
    if constexpr (requires { record.pszText; }) {
      record.pszText = remoteText;
      record.cchTextMax = static_cast<int>(text.size());
    }
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

#define ASSERT_STARTED(program) ASSERT_TRUE((program).started()) << (program).failure

// Tests of one copy of the scripted build.
struct Scripted : ::testing::Test {
  void SetUp() override { ASSERT_STARTED(program); }
  Program program;
};

}  // namespace tessivo::e2e
