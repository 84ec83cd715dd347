// scripted_tessivo.exe: the program's own shell over six scripted processes whose counters
// grow by a fixed step at every snapshot after the first, while the scripted clock moves on by
// 333 ms, so that the end-to-end tests know every cell. Each step is a multiple of 333 bytes:
// every speed is a whole number of bytes per second.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "script/script_control.h"
#include "support/scripted_system.h"
#include "win32/run_tessivo.h"

namespace {

tessivo::script::Control* control = nullptr;
UINT describeMenu = 0;

struct WatchedSystem : tessivo::testing::ScriptedSystem {
  void readSnapshot(std::vector<tessivo::ProcessSample>& out) override {
    ScriptedSystem::readSnapshot(out);
    const auto number = static_cast<LONG64>(readCount);
    control->readTicks[number % tessivo::script::kReadTimeSlots] = static_cast<LONG64>(GetTickCount64());
    InterlockedExchange64(&control->reads, number);
  }
};

std::wstring describe(HMENU menu) {
  std::wstring out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 255;
    if (i > 0) out += L'|';
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info))
      out += L"error";
    else if (info.hSubMenu != nullptr)
      out += std::wstring(text) + L'{' + describe(info.hSubMenu) + L'}';
    else if (info.fType & MFT_SEPARATOR)
      out += L'-';
    else
      out += text + (L'#' + std::to_wstring(info.wID)) + ((info.fState & MFS_CHECKED) ? L"*" : L"");
  }
  return out;
}

// Sees every message sent to this thread's windows before they do.
LRESULT CALLBACK watchMessages(int code, WPARAM wParam, LPARAM lParam) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
  wchar_t name[32] = {};
  if (code == HC_ACTION && GetClassNameW(m->hwnd, name, 32) && std::wcscmp(name, L"QuarnelWindow") == 0) {
    if (m->message == describeMenu) {
      std::wstring text = GetMenu(m->hwnd) ? describe(GetMenu(m->hwnd)) : L"";
      text.resize(std::min(text.size(), std::size(control->menuText) - 1));
      std::wmemcpy(control->menuText, text.c_str(), text.size() + 1);
      InterlockedIncrement(&control->menuVersion);
    } else if (m->message == WM_SHOWWINDOW && m->wParam != 0 && control->readsAtFirstShow < 0) {
      control->readsAtFirstShow = control->reads;
      control->rowsAtFirstShow = SendMessageW(GetDlgItem(m->hwnd, 1001), LVM_GETITEMCOUNT, 0, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  const std::wstring blockName = tessivo::script::controlName(GetCurrentProcessId());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(tessivo::script::Control), blockName.c_str());
  if (mapping == nullptr) return 3;
  control = static_cast<tessivo::script::Control*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (control == nullptr) return 3;
  control->readsAtFirstShow = -1;
  control->rowsAtFirstShow = -1;
  describeMenu = tessivo::script::describeMenuMessage();
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
  UnmapViewOfFile(control);
  CloseHandle(mapping);
  return code;
}
