// scripted_tessivo.exe: the program's own shell over a scripted process source, for the
// end-to-end tests. Everything the user sees comes from the same code as tessivo.exe; only
// the processes, their counters and the clock are the script's, so the tests know every
// cell. A block of shared memory, named after this process's id, lets the driver count
// the snapshots and read the menu bar (another process cannot read a menu under Wine).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "script/script_control.h"
#include "support/scripted_system.h"
#include "win32/run_tessivo.h"

namespace {

using tessivo::script::Control;

Control* control = nullptr;
UINT describeMenu = 0;

class WatchedSystem : public tessivo::testing::ScriptedSystem {
 public:
  void readSnapshot(std::vector<tessivo::ProcessSample>& out) override {
    ScriptedSystem::readSnapshot(out);
    const LONG64 number = static_cast<LONG64>(readCount);
    control->readTicks[number % tessivo::script::kReadTimeSlots] = static_cast<LONG64>(GetTickCount64());
    InterlockedExchange64(&control->reads, number);
  }
};

std::u16string text16(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), std::wcslen(text));
}

void describe(HMENU menu, int depth, std::wstring& out) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 255;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) {
      out += L"error\n";
      continue;
    }
    const wchar_t kind = info.hSubMenu != nullptr ? L'P' : (info.fType & MFT_SEPARATOR) ? L'S' : L'C';
    out += std::to_wstring(depth) + L'|' + kind + L'|' + std::to_wstring(info.hSubMenu ? 0 : info.wID) + L'|' +
           ((info.fState & MFS_CHECKED) ? L'1' : L'0') + L'|' + text + L'\n';
    if (info.hSubMenu != nullptr) describe(info.hSubMenu, depth + 1, out);
  }
}

bool isMainWindow(HWND window) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  return std::wcscmp(name, L"QuarnelWindow") == 0;
}

// Sees every message sent to this thread's windows before they do.
LRESULT CALLBACK watchMessages(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (message->message == describeMenu && describeMenu != 0 && isMainWindow(message->hwnd)) {
      std::wstring text;
      if (HMENU bar = GetMenu(message->hwnd)) describe(bar, 0, text);
      text.resize(std::min<std::size_t>(text.size(), tessivo::script::kMenuTextChars - 1));
      std::wmemcpy(control->menuText, text.c_str(), text.size() + 1);
      InterlockedIncrement(&control->menuVersion);
    } else if (message->message == WM_SHOWWINDOW && message->wParam != 0 && isMainWindow(message->hwnd) &&
               control->readsAtFirstShow < 0) {
      control->readsAtFirstShow = control->reads;
      HWND list = GetDlgItem(message->hwnd, 1001);
      control->rowsAtFirstShow = list ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) : -1;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const std::wstring name = tessivo::script::controlName(GetCurrentProcessId());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Control), name.c_str());
  if (mapping == nullptr) return 3;
  control = static_cast<Control*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Control)));
  if (control == nullptr) return 3;
  control->readsAtFirstShow = -1;
  control->rowsAtFirstShow = -1;
  describeMenu = tessivo::script::describeMenuMessage();
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watchMessages, nullptr, GetCurrentThreadId());
  if (hook == nullptr) return 3;

  WatchedSystem system;
  system.stepMs = tessivo::script::kStepMs;
  for (const tessivo::script::Process& p : tessivo::script::kProcesses) {
    tessivo::testing::ScriptedProcess& added = system.add(p.pid, text16(p.name), text16(p.imagePath), 1000 + p.pid);
    added.counters.readBytes = p.initialReadBytes;
    added.counters.writeBytes = p.initialWriteBytes;
    added.counters.readOps = p.initialReadOps;
    added.counters.writeOps = p.initialWriteOps;
    added.perTick.readBytes = p.stepReadBytes;
    added.perTick.writeBytes = p.stepWriteBytes;
    added.perTick.readOps = p.stepReadOps;
    added.perTick.writeOps = p.stepWriteOps;
  }
  const int code = tessivo::runTessivo(instance, showCommand, system);
  UnhookWindowsHookEx(hook);
  UnmapViewOfFile(control);
  CloseHandle(mapping);
  return code;
}
