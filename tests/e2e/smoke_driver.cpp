// Starts tessivo.exe, checks that its main window comes up with both panes and a filled
// list, closes it the way the user would and checks that it exits with code 0.
// Usage: smoke_driver <path to tessivo.exe>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Generous: a loaded two-core machine may take a while to start Wine and the program.
constexpr DWORD kStartTimeoutMs = 120'000;
constexpr DWORD kExitTimeoutMs = 60'000;
constexpr DWORD kPollMs = 100;

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK findMainWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  wchar_t className[64] = {};
  wchar_t title[64] = {};
  GetClassNameW(window, className, 64);
  GetWindowTextW(window, title, 64);
  if (std::wcscmp(className, L"QuarnelWindow") == 0 && std::wcscmp(title, L"Tessivo") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

bool exited(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// Sends without hanging on a program that stopped answering.
bool ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10'000, &answer)) return false;
  result = static_cast<LRESULT>(answer);
  return true;
}

class Driver {
 public:
  explicit Driver(const wchar_t* program) : program_(program) {}
  ~Driver() {
    if (process_.hProcess != nullptr) {
      if (!exited(process_.hProcess)) TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }

  int run() {
    if (!start()) return 1;
    HWND main = waitForMainWindow();
    if (main == nullptr) return 1;
    if (!checkPanes(main)) return 1;
    return closeAndCheckExit(main) ? 0 : 1;
  }

 private:

  bool start() {
    std::wstring commandLine = L"\"" + std::wstring(program_) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program_, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
      std::fprintf(stderr, "smoke: FAIL: CreateProcessW failed with error %lu\n", GetLastError());
      return false;
    }
    return true;
  }

  HWND waitForMainWindow() {
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (GetTickCount64() < deadline) {
      if (exited(process_.hProcess)) {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        std::fprintf(stderr, "smoke: FAIL: the program ended (exit code %lu) before its window appeared\n", code);
        return nullptr;
      }
      Search search{process_.dwProcessId, nullptr};
      EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
      // The window exists from the start of its creation; the panes and the first refresh
      // are there once the program waits for input.
      if (search.found != nullptr &&
          WaitForInputIdle(process_.hProcess, kPollMs) == 0 && IsWindowVisible(search.found))
        return search.found;
      Sleep(kPollMs);
    }
    std::fprintf(stderr, "smoke: FAIL: timed out after %lu ms waiting for the window QuarnelWindow \"Tessivo\"\n",
                 kStartTimeoutMs);
    return nullptr;
  }

  bool checkPanes(HWND main) {
    HWND list = GetDlgItem(main, 1001);
    if (list == nullptr || classOf(list) != L"SysListView32") {
      std::fprintf(stderr, "smoke: FAIL: no child 1001 of class SysListView32\n");
      return false;
    }
    HWND chart = GetDlgItem(main, 1002);
    if (chart == nullptr || classOf(chart) != L"QuarnelSpeedChart") {
      std::fprintf(stderr, "smoke: FAIL: no child 1002 of class QuarnelSpeedChart\n");
      return false;
    }
    LRESULT count = 0;
    if (!ask(list, LVM_GETITEMCOUNT, 0, 0, count)) {
      std::fprintf(stderr, "smoke: FAIL: the list did not answer LVM_GETITEMCOUNT\n");
      return false;
    }
    if (count <= 0) {
      std::fprintf(stderr, "smoke: FAIL: the list is empty (LVM_GETITEMCOUNT = %lld)\n", static_cast<long long>(count));
      return false;
    }
    LRESULT header = 0;
    LRESULT columns = 0;
    if (!ask(list, LVM_GETHEADER, 0, 0, header) || header == 0 ||
        !ask(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0, columns) || columns != 9) {
      std::fprintf(stderr, "smoke: FAIL: the list does not have nine columns (%lld)\n", static_cast<long long>(columns));
      return false;
    }
    std::printf("smoke: window up, %lld rows, %lld columns\n", static_cast<long long>(count),
                static_cast<long long>(columns));
    return true;
  }

  bool closeAndCheckExit(HWND main) {
    PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "smoke: FAIL: timed out after %lu ms waiting for the program to exit after WM_CLOSE\n",
                   kExitTimeoutMs);
      return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    if (code != 0) {
      std::fprintf(stderr, "smoke: FAIL: exit code %lu, expected 0\n", code);
      return false;
    }
    std::printf("smoke: closed, exit code 0\n");
    return true;
  }

  const wchar_t* program_;
  PROCESS_INFORMATION process_{};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: smoke_driver <tessivo.exe>\n");
    return 2;
  }
  Driver driver(argv[1]);
  return driver.run();
}
