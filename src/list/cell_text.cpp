#include "list/cell_text.h"

#include <charconv>
#include <cstdio>

#include "core/text.h"

namespace tessivo {

std::u16string formatGrouped(std::uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const auto count = static_cast<std::size_t>(result.ptr - digits);

  std::u16string out;
  out.reserve(count + (count - 1) / 3);
  for (std::size_t i = 0; i < count; ++i) {
    // A comma goes before every digit that starts a group of three counted from the right.
    if (i != 0 && (count - i) % 3 == 0) out.push_back(u',');
    out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

std::u16string formatKiBRate(std::uint64_t bytesPerSecond) {
  // The conversion is unsigned, so values of 2^63 and above stay positive; the "C"
  // locale is never changed, so the decimal point is always a full stop.
  const double kib = static_cast<double>(bytesPerSecond) * 0.0009765625;
  char buffer[64];
  const int written = std::snprintf(buffer, sizeof buffer, "%.1f KiB/s", kib);
  if (written <= 0) return {};
  const auto length = static_cast<std::size_t>(written) < sizeof buffer ? static_cast<std::size_t>(written)
                                                                        : sizeof buffer - 1;
  return widenAscii(std::string_view(buffer, length));
}

std::u16string cellTextOf(const ProcessRow& row, std::int32_t columnIndex) {
  switch (columnIndex) {
    case column::Name:
      return row.name;
    case column::Pid:
      // Application rows carry pid 0, and so does the idle process: neither has a real id.
      return row.pid == 0 ? std::u16string(u"-") : formatGrouped(row.pid);
    case column::ReadBytes:
      return formatGrouped(row.counters.readBytes);
    case column::WriteBytes:
      return formatGrouped(row.counters.writeBytes);
    case column::ReadOps:
      return formatGrouped(row.counters.readOps);
    case column::WriteOps:
      return formatGrouped(row.counters.writeOps);
    case column::ReadRate:
      return formatKiBRate(row.readRate);
    case column::WriteRate:
      return formatKiBRate(row.writeRate);
    case column::ImagePath:
      return row.imagePath;
    default:
      return {};
  }
}

}  // namespace tessivo
