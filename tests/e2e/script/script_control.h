// The block of shared memory, named after the scripted build's process id, through which the
// end-to-end driver counts its snapshots and reads its menu bar (Wine cannot read another
// process's menu).
#pragma once

#include <windows.h>

#include <string>

namespace tessivo::script {

inline constexpr int kReadTimeSlots = 256;

struct Control {
  volatile LONG64 reads;                              // snapshots taken so far
  volatile LONG64 readTicks[kReadTimeSlots];          // GetTickCount64 of read n, at n % kReadTimeSlots
  volatile LONG64 readsAtFirstShow, rowsAtFirstShow;  // when the main window first showed
  // The menu bar, written on request: items split by '|', a popup as "text{items}", a
  // separator as "-", a command as "text#id", followed by '*' when checked.
  volatile LONG menuVersion;
  wchar_t menuText[4096];
};

inline std::wstring controlName(DWORD processId) {
  return L"Local\\TessivoScript." + std::to_wstring(processId);
}
// Sent to the main window: the scripted build describes its menu bar before the window sees it.
inline UINT describeMenuMessage() { return RegisterWindowMessageW(L"TessivoScript.DescribeMenu"); }

}  // namespace tessivo::script
