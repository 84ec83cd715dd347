// Telling an exec from a stat read: the kernel keeps the pid and the start time across an
// exec, so a new program shows only as another name or other program text bounds.
#pragma once

#include <string>

#include "procfs/proc_entry.h"
#include "procfs/proc_parse.h"

namespace tessivo {

// Takes the short name, parent and program bounds from a stat read of the entry's process.
// When it is the same process as before (sameProcess), a changed name or program means an
// exec (or a rename: the path is then merely asked again) and bumps the entry's generation;
// true then. nameScratch is reused storage, so a refresh with no exec allocates nothing.
bool takeStat(ProcEntry& entry, const ProcStat& stat, bool sameProcess, std::u16string& nameScratch);

// Reads the program link `<pid>/exe` under the /proc directory procDir into entry.path and
// names the entry after the program's file, or after its short name where the link cannot
// be read (kernel threads, other users' processes). One readlinkat: for a process first
// seen, or after an exec.
void takeProgram(ProcEntry& entry, int procDir);

}  // namespace tessivo
