// Parsers of the kernel's per-process text files, kept apart from the descriptors they are
// read through so they can be fed any text. Nothing here allocates except when a name's
// string has to grow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessivo {

// The fields of /proc/<pid>/stat the snapshot uses.
struct ProcStat {
  std::string_view comm;       // between the first "(" and the last ")"; a view into the text
  std::uint32_t ppid = 0;       // field 4
  bool kernelThread = false;    // field 9, the flags, holds PF_KTHREAD
  std::uint64_t startTime = 0;  // field 22: clock ticks since boot
  // Fields 26 and 27, the program text's bounds: they move on an exec. 0 without a program
  // (kernel threads, zombies) or when missing, 1 when the reader may not see them.
  std::uint64_t startCode = 0;
  std::uint64_t endCode = 0;
};

// The counters of /proc/<pid>/io; a line that is missing leaves its field 0.
struct ProcIo {
  std::uint64_t rchar = 0;
  std::uint64_t wchar = 0;
  std::uint64_t syscr = 0;
  std::uint64_t syscw = 0;
  std::uint64_t readBytes = 0;
  std::uint64_t writeBytes = 0;
};

// Unsigned decimal at the start of text; digits beyond 2^64 - 1 saturate. Empty when text
// does not start with a digit. `used` (when given) receives the number of digits read.
std::optional<std::uint64_t> parseDecimal(std::string_view text, std::size_t* used = nullptr);

// A /proc directory entry name that is a process identifier: all digits, no leading zero,
// fitting 32 bits. 0 for anything else.
std::uint32_t parsePidName(std::string_view name);

// Empty when the text is not a stat line: no parentheses around the name, or fewer than
// 22 fields. The name may hold spaces and parentheses: it ends at the last ")".
std::optional<ProcStat> parseProcStat(std::string_view text);

// The last field of /proc/loadavg, the pid the kernel handed out last ("0.00 0.01 0.05
// 1/234 5678"); empty when the text does not end that way.
std::optional<std::uint32_t> parseLastPid(std::string_view loadavg);

// Whether a /proc/<pid>/status text's SigIgn mask holds signal `number` (1-based).
bool ignoresSignal(std::string_view status, int number);

// Empty when not one known counter line is found (an empty read means the process is gone).
std::optional<ProcIo> parseProcIo(std::string_view text);

// Replaces out with the UTF-16 form of utf8 (malformed bytes become U+FFFD), reusing out's
// storage, so a name that did not change costs no allocation.
void assignUtf8(std::string_view utf8, std::u16string& out);

// assignUtf8 for a process name, which is shown on one line: control characters become
// their visible pictures (U+2400 + code, U+2421 for DEL), C1 controls U+FFFD.
void assignName(std::string_view utf8, std::u16string& out);

// An executable link's target without the " (deleted)" the kernel appends once the file
// has been removed or replaced.
std::string_view withoutDeletedSuffix(std::string_view target);

}  // namespace tessivo
