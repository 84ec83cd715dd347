// What the scripted build of the program and the end-to-end driver share: the fixed set of
// processes the scripted build reports, and a block of shared memory through which the
// driver watches the scripted source (its reads and when they came) and asks for a
// description of the program's own menu bar.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tessivo::script {

// One scripted process. Counters start at `initial` and grow by `perStep` at every read
// after the first; the scripted clock moves on by kStepMs at each of those reads.
struct Process {
  std::uint32_t pid;
  const wchar_t* name;       // empty: the system gives no name
  const wchar_t* imagePath;  // empty: the path cannot be obtained
  std::uint64_t initialReadBytes, initialWriteBytes, initialReadOps, initialWriteOps;
  std::uint64_t stepReadBytes, stepWriteBytes, stepReadOps, stepWriteOps;
};

inline constexpr std::uint64_t kStepMs = 333;

// Steps are multiples of 333 bytes, so each speed is a whole number of bytes per second:
// 3,330 bytes a step is 10,000 B/s.
inline constexpr Process kProcesses[] = {
    {0, L"System", L"", 0, 0, 0, 0, 0, 0, 0, 0},
    {4, L"System", L"", 5'000'000, 7'000'000, 500, 700, 3'330, 6'660, 1, 2},
    {1200, L"Editor.exe", L"C:\\Program Files\\Editor\\Editor.exe", 1'048'576, 0, 64, 0, 333'000, 33'300, 10, 1},
    {1300, L"editor.exe", L"c:\\program files\\editor\\EDITOR.EXE", 0, 0, 0, 0, 66'600, 0, 2, 0},
    {2500, L"", L"", 999, 0, 3, 0, 0, 333, 0, 1},
    {12345, L"Backup.exe", L"D:\\Tools\\Backup.exe", 1'234'567'890, 10'000'000, 4'000, 3'000, 0, 3'330'000, 0, 100},
};

inline constexpr int kReadTimeSlots = 256;
inline constexpr int kMenuTextChars = 8192;

struct Control {
  // Number of snapshots taken so far, and the tick count (ms) of each, by read number
  // modulo kReadTimeSlots. The scripted build writes; the driver reads.
  volatile LONG64 reads;
  volatile LONG64 readTicks[kReadTimeSlots];
  // Reads taken and rows in the list when the main window was first shown.
  volatile LONG64 readsAtFirstShow;
  volatile LONG64 rowsAtFirstShow;
  // The menu bar, one line per item, written on request (see describeMenuMessage):
  // "<depth>|<P popup, S separator, C command>|<id>|<1 checked, 0 not>|<text>\n".
  volatile LONG menuVersion;
  wchar_t menuText[kMenuTextChars];
};

inline std::wstring controlName(DWORD processId) {
  return L"Local\\TessivoScript." + std::to_wstring(processId);
}

// Sent to the main window: the scripted build writes the menu bar into the block before
// the window sees the message.
inline UINT describeMenuMessage() { return RegisterWindowMessageW(L"TessivoScript.DescribeMenu"); }

}  // namespace tessivo::script
