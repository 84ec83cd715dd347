// One running copy of the program under test, driven from outside with Win32 calls only:
// it is started with CreateProcessW, its windows are found by class, the list view is read
// through its messages with buffers placed in the program's own memory, and it is ended
// the way the user or the desktop would end it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "script/script_control.h"

namespace tessivo::e2e {

// Paths the suite was given on its command line.
struct Paths {
  std::wstring scripted;  // scripted_tessivo.exe
  std::wstring real;      // tessivo.exe
  std::wstring shots;     // folder for screenshots
};
const Paths& paths();
void setPaths(Paths p);

struct MenuEntry {
  int depth = 0;
  wchar_t kind = L'C';  // P popup, S separator, C command
  int id = 0;
  bool checked = false;
  std::wstring text;
};

class Program {
 public:
  // Starts the program and waits until its main window is up and idle (or, started
  // minimised, until it exists and the program waits for input). Check started().
  explicit Program(const std::wstring& exe, int showCommand = SW_SHOWNORMAL);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();  // ends a program still running

  bool started() const { return main_ != nullptr; }
  const std::wstring& failure() const { return failure_; }
  HWND main() const { return main_; }
  HWND list() const { return list_; }
  HWND chart() const { return chart_; }
  HWND header() const { return header_; }
  DWORD processId() const { return process_.dwProcessId; }

  // Sends and waits for the answer (10 s at most; false on time-out).
  bool send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, LRESULT* result = nullptr);
  bool command(int id) { return send(main_, WM_COMMAND, static_cast<WPARAM>(id), 0); }

  // The list view, read through LVM_* messages.
  int rowCount();
  std::wstring cell(int row, int column);
  std::vector<std::vector<std::wstring>> table();  // every row, all nine columns
  std::wstring columnTitle(int column);
  int columnWidth(int column);
  int columnCount();
  // A left click in the middle of one column's header (button down and up).
  bool clickHeader(int column);

  // Window rectangles in the main window's client coordinates.
  RECT childRect(HWND child);
  RECT clientRect();

  // Whether the shell holds a notification icon (owner: the main window, id 1): probed with
  // NIM_MODIFY, which succeeds only for an icon that exists.
  bool trayIconPresent();

  // Waits up to timeoutMs for the process to end; its exit code, or -1 when still running.
  long waitForExit(DWORD timeoutMs);

  // The scripted build's shared block; null for the real program.
  const script::Control* control() const { return control_; }
  std::int64_t reads() const { return control_ ? control_->reads : -1; }
  // Waits until at least `count` snapshots were taken; false on time-out.
  bool waitForReads(std::int64_t count, DWORD timeoutMs = 20'000);
  std::vector<MenuEntry> menu();  // the scripted build's menu bar, as the program holds it

  // Finds a top-level window of the program by class and caption within timeoutMs.
  HWND waitForWindow(const wchar_t* className, const wchar_t* caption, DWORD timeoutMs);

  // Saves the screen area of a window as PNG in the screenshot folder; false on failure.
  // Also says how many distinct colours it holds (a blank pane has one or two).
  bool screenshot(HWND window, const std::wstring& fileName, int* colours = nullptr);

 private:
  bool start(const std::wstring& exe, int showCommand);
  bool waitForMain(bool minimised);
  void* remote(std::size_t offset);  // an address inside that page

  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
  HWND list_ = nullptr;
  HWND chart_ = nullptr;
  HWND header_ = nullptr;
  std::wstring failure_;
  HANDLE mapping_ = nullptr;
  script::Control* control_ = nullptr;
  void* remote_ = nullptr;  // a page of the program's memory for the list-view messages
};

std::string utf8(const std::wstring& text);  // for messages
std::wstring classOf(HWND window);
std::wstring textOf(HWND window);

// Waits for the condition to hold, polling every 20 ms; true when it held in time.
template <typename Condition>
bool eventually(Condition condition, DWORD timeoutMs = 10'000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

}  // namespace tessivo::e2e
