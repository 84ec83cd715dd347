// PLACEHOLDER: replaced by the real formats.
#include "chart/chart_format.h"

namespace tessivo {

std::u16string formatRate(std::uint64_t) { return {}; }
std::u16string formatDuration(float) { return {}; }
std::u16string formatTimeOffset(float) { return {}; }

}  // namespace tessivo
