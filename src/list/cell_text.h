// The text of the list's cells: grouped decimals, KiB/s speeds, names and paths as stored.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/types.h"

namespace tessivo {

// Columns of the list, by index; the row order uses the same indices.
namespace column {
inline constexpr std::int32_t Name = 0;
inline constexpr std::int32_t Pid = 1;
inline constexpr std::int32_t ReadBytes = 2;
inline constexpr std::int32_t WriteBytes = 3;
inline constexpr std::int32_t ReadOps = 4;
inline constexpr std::int32_t WriteOps = 5;
inline constexpr std::int32_t ReadRate = 6;
inline constexpr std::int32_t WriteRate = 7;
inline constexpr std::int32_t ImagePath = 8;
inline constexpr std::int32_t Count = 9;
}  // namespace column

// Each column's title and initial width in pixels, by index; every shell shows the same.
struct ColumnHeading {
  const char16_t* title;
  int width;
};
inline constexpr std::array<ColumnHeading, column::Count> kColumnHeadings{{
    {u"进程", 180},
    {u"PID", 70},
    {u"读取字节", 130},
    {u"写入字节", 130},
    {u"读取次数", 110},
    {u"写入次数", 110},
    {u"读取速度", 120},
    {u"写入速度", 120},
    {u"映像路径", 450},
}};

// Display text of one cell; a column outside 0..8 gives an empty string.
std::u16string cellTextOf(const ProcessRow& row, std::int32_t columnIndex);

// Decimal digits with a comma between groups of three, whatever the user's locale.
std::u16string formatGrouped(std::uint64_t value);

// Bytes per second as "%.1f KiB/s" of value / 1024, always in KiB/s, never grouped.
std::u16string formatKiBRate(std::uint64_t bytesPerSecond);

}  // namespace tessivo
