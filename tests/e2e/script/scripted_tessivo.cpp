// scripted_tessivo.exe: the program's shell over six processes whose counters grow by a step of
// 333 bytes' multiples at each snapshot after the first, 333 scripted ms apart: the driver knows every
// cell. Main window properties tell it the snapshots so far, and those and the rows at the first show.
#include <windows.h>
#include <commctrl.h>

#include "support/scripted_system.h"
#include "win32/run_tessivo.h"

namespace {

HWND mainWindow = nullptr;  // known from its first show on
void publish(const wchar_t* name, std::uint64_t value) {
  SetPropW(mainWindow, name, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value)));
}

struct WatchedSystem : tessivo::testing::ScriptedSystem {
  void readSnapshot(std::vector<tessivo::ProcessSample>& out) override {
    ScriptedSystem::readSnapshot(out);
    publish(L"TessivoScript.Reads", readCount);
  }
} script;

// Sees messages to this thread's windows before they do: the first show of the window holding the list.
LRESULT CALLBACK watchMessages(int code, WPARAM wParam, LPARAM lParam) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && mainWindow == nullptr && m->message == WM_SHOWWINDOW && m->wParam != 0 &&
      GetDlgItem(m->hwnd, 1001) != nullptr) {
    mainWindow = m->hwnd;
    publish(L"TessivoScript.Reads", script.readCount);
    publish(L"TessivoScript.ReadsAtFirstShow", script.readCount);
    const int rows = ListView_GetItemCount(GetDlgItem(mainWindow, 1001));
    publish(L"TessivoScript.RowsAtFirstShow", static_cast<std::uint64_t>(rows));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watchMessages, nullptr, GetCurrentThreadId());
  if (hook == nullptr) return 3;
  // Pid, name, path, creation time; counters at the start, their step: operations, bytes (r, w, other).
  script.processes = {
      {0, u"System", u"", 1000, {}, {}},
      {4, u"System", u"", 1004, {500, 700, 0, 5'000'000, 7'000'000, 0}, {1, 2, 0, 3'330, 6'660, 0}},
      {1200, u"Editor.exe", u"C:\\Program Files\\Editor\\Editor.exe", 2200, {64, 0, 0, 1'048'576, 0, 0},
       {10, 1, 0, 333'000, 33'300, 0}},
      {1300, u"editor.exe", u"c:\\program files\\editor\\EDITOR.EXE", 2300, {}, {2, 0, 0, 66'600, 0, 0}},
      {2500, u"", u"", 3500, {3, 0, 0, 999, 0, 0}, {0, 1, 0, 0, 333, 0}},
      {12345, u"Backup.exe", u"D:\\Tools\\Backup.exe", 13345, {4'000, 3'000, 0, 1'234'567'890, 10'000'000, 0},
       {0, 100, 0, 0, 3'330'000, 0}}};
  return tessivo::runTessivo(instance, showCommand, script);  // the hook ends with the thread
}
