// The chart's wording for speeds, durations and time-axis offsets.
#pragma once

#include <cstdint>
#include <string>

namespace tessivo {

std::u16string formatRate(std::uint64_t bytesPerSecond);
std::u16string formatDuration(float seconds);
std::u16string formatTimeOffset(float secondsBeforeNewest);

}  // namespace tessivo
