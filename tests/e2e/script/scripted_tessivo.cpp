// scripted_tessivo.exe: the program's own shell over six scripted processes whose counters
// grow by a fixed step at every snapshot after the first, while the scripted clock moves on by
// 333 ms, so that the end-to-end tests know every cell. Each step is a multiple of 333 bytes:
// every speed is a whole number of bytes per second. For the end-to-end driver, the main
// window carries properties: the snapshots taken so far, and how many there were and how many
// rows the list held when the window first showed.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

#include "support/scripted_system.h"
#include "win32/run_tessivo.h"

namespace {

HWND mainWindow = nullptr;

void publish(const wchar_t* name, std::uint64_t value) {
  SetPropW(mainWindow, name, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(value)));
}

struct WatchedSystem : tessivo::testing::ScriptedSystem {
  void readSnapshot(std::vector<tessivo::ProcessSample>& out) override {
    ScriptedSystem::readSnapshot(out);
    publish(L"TessivoScript.Reads", readCount);
  }
};

// Sees every message sent to this thread's windows before they do.
LRESULT CALLBACK watchMessages(int code, WPARAM wParam, LPARAM lParam) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
  wchar_t name[32] = {};
  if (code == HC_ACTION && mainWindow == nullptr && GetClassNameW(m->hwnd, name, 32) &&
      std::wcscmp(name, L"QuarnelWindow") == 0)
    mainWindow = m->hwnd;
  if (code == HC_ACTION && m->hwnd == mainWindow && m->message == WM_SHOWWINDOW && m->wParam != 0 &&
      GetPropW(mainWindow, L"TessivoScript.ReadsAtFirstShow") == nullptr) {
    publish(L"TessivoScript.ReadsAtFirstShow",
            reinterpret_cast<UINT_PTR>(GetPropW(mainWindow, L"TessivoScript.Reads")));
    publish(L"TessivoScript.RowsAtFirstShow",
            static_cast<UINT_PTR>(SendMessageW(GetDlgItem(mainWindow, 1001), LVM_GETITEMCOUNT, 0, 0)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watchMessages, nullptr, GetCurrentThreadId());
  if (hook == nullptr) return 3;
  WatchedSystem system;
  // Counters: operations read, written, other; bytes read, written, other.
  const auto add = [&](std::uint32_t pid, const char16_t* name, const char16_t* path,
                       tessivo::IoCounters start, tessivo::IoCounters step) {
    auto& added = system.add(pid, name, path, 1000 + pid);
    added.counters = start;
    added.perTick = step;
  };
  add(0, u"System", u"", {}, {});
  add(4, u"System", u"", {500, 700, 0, 5'000'000, 7'000'000, 0}, {1, 2, 0, 3'330, 6'660, 0});
  add(1200, u"Editor.exe", u"C:\\Program Files\\Editor\\Editor.exe", {64, 0, 0, 1'048'576, 0, 0},
      {10, 1, 0, 333'000, 33'300, 0});
  add(1300, u"editor.exe", u"c:\\program files\\editor\\EDITOR.EXE", {}, {2, 0, 0, 66'600, 0, 0});
  add(2500, u"", u"", {3, 0, 0, 999, 0, 0}, {0, 1, 0, 0, 333, 0});
  add(12345, u"Backup.exe", u"D:\\Tools\\Backup.exe", {4'000, 3'000, 0, 1'234'567'890, 10'000'000, 0},
      {0, 100, 0, 0, 3'330'000, 0});
  const int code = tessivo::runTessivo(instance, showCommand, system);
  UnhookWindowsHookEx(hook);
  return code;
}
