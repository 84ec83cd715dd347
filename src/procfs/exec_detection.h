// Telling an exec from a stat read: the kernel keeps the pid and the start time across an
// exec, so a new program shows only as another name or other program text bounds.
#pragma once

#include <string>

#include "procfs/proc_entry.h"
#include "procfs/proc_parse.h"

namespace tessivo {

// Takes name, parent and program bounds from a stat read of the entry's process. When it
// is the same process as before (sameProcess), a changed name or program means an exec
// (or a rename: the path is then merely asked again) and bumps the entry's generation.
// nameScratch is reused storage, so a refresh with no exec allocates nothing.
void takeStat(ProcEntry& entry, const ProcStat& stat, bool sameProcess, std::u16string& nameScratch);

}  // namespace tessivo
