#include "chart/chart_format.h"

#include <cmath>
#include <cstdio>

#include "core/text.h"

namespace tessivo {

namespace {

// snprintf under the classic locale: the program never formats with the user's.
template <std::size_t N, typename... Args>
std::u16string formatAscii(const char* pattern, Args... args) {
  char buffer[N];
  const int written = std::snprintf(buffer, N, pattern, args...);
  if (written <= 0) return {};
  const std::size_t length = static_cast<std::size_t>(written) < N ? static_cast<std::size_t>(written) : N - 1;
  return widenAscii(std::string_view(buffer, length));
}

}  // namespace

std::u16string formatRate(std::uint64_t bytesPerSecond) {
  double x = static_cast<double>(bytesPerSecond);
  // The unit is picked on the unscaled value, before rounding: 1048575 reads 1024.0 KiB/s.
  const char* unit = "B/s";
  if (x >= 1073741824.0) {
    x /= 1073741824.0;
    unit = "GiB/s";
  } else if (x >= 1048576.0) {
    x /= 1048576.0;
    unit = "MiB/s";
  } else if (x >= 1024.0) {
    x /= 1024.0;
    unit = "KiB/s";
  }
  return formatAscii<64>("%.1f %s", x, unit);
}

std::u16string formatDuration(float seconds) {
  double s = std::fabs(static_cast<double>(seconds));
  if (!(s >= 0.0)) s = 0.0;  // NaN: nothing sensible to show, and it must not reach the int cast
  // The form is chosen on the unrounded value; only its fields are rounded.
  if (s < 60.0) return formatAscii<48>(s < 10.0 ? "%.1fs" : "%.0fs", s);
  const double rounded = s + 0.5;
  const std::int32_t n = rounded >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(rounded);
  if (s < 3600.0) return formatAscii<48>("%dm%02ds", n / 60, n % 60);
  return formatAscii<48>("%dh%02dm", n / 3600, (n % 3600) / 60);
}

std::u16string formatTimeOffset(float secondsBeforeNewest) {
  if (secondsBeforeNewest <= 0.5f) return u"现在";
  std::u16string text = u"-";
  text += formatDuration(secondsBeforeNewest);
  return text;
}

}  // namespace tessivo
