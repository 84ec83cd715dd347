// The I/O this process does for monitoring: every source's reads of /proc, and what the
// program declares (the agent's socket I/O). It is taken off this process's own counters,
// so that the monitor never counts itself. Process-wide and thread-safe: every source of
// the process reads through it.
#pragma once

#include <cstdint>

#include "procfs/proc_parse.h"

namespace tessivo::own_io {

// This process's pid, after forgetting the totals of the parent it was forked from (a
// forked child starts with zero counters, so the totals belong to one pid).
std::uint32_t sync();

// One read call of the monitor's, with what it returned (negative: an error, no bytes).
void countRead(long returned);

// Declared I/O, done for monitoring.
void declare(std::uint64_t readBytes, std::uint64_t readCalls, std::uint64_t writeBytes, std::uint64_t writeCalls);

// Everything counted so far, as counters (rchar, wchar, syscr, syscw).
ProcIo totals();

}  // namespace tessivo::own_io
