// The walk over the native process-information buffer (the chain of 64-bit
// SYSTEM_PROCESS_INFORMATION records), as pure byte work so it can be tested anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/types.h"

namespace tessivo {

// Smallest part of a record that holds everything read from it (the counters end at 0x100).
inline constexpr std::size_t kProcessRecordMinSize = 0x100;

// Replaces `out` with one sample per record of `buffer`, in chain order, reusing its storage.
// `returnedLength` is the length the system reported (clamped to the buffer); `bufferAddress`
// is where the buffer lives, since the records' name pointers are absolute. Never reads
// outside the buffer: a record not wholly inside ends the walk, as does a next-entry offset
// too small to step over a record; a name outside the buffer counts as no name.
void parseProcessBuffer(std::span<const std::byte> buffer, std::size_t returnedLength,
                        std::uint64_t bufferAddress, std::vector<ProcessSample>& out);

}  // namespace tessivo
