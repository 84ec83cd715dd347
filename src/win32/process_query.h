// The native process-list query with its single retry, written over any callable with the
// system call's shape so the buffer handling can be checked without the real system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace tessivo {

inline constexpr std::uint32_t kSystemProcessInformation = 5;
inline constexpr std::int32_t kStatusInfoLengthMismatch = static_cast<std::int32_t>(0xC0000004u);
inline constexpr std::uint32_t kFirstQueryBytes = 40960;
// Room for processes that start between the two calls.
inline constexpr std::uint32_t kRetryExtraBytes = 16000;

// Fills `buffer` (resized and zeroed here) by calling
// query(informationClass, bufferPointer, bufferLength, &returnedLength) -> status, once with
// 40960 bytes and, when the system says that is too small, once more with the reported length
// plus 16000. Returns the length the successful call reported, or nothing on failure.
template <typename Query>
std::optional<std::uint32_t> queryProcessBuffer(Query&& query, std::vector<std::byte>& buffer) {
  buffer.assign(kFirstQueryBytes, std::byte{0});
  std::uint32_t returned = kFirstQueryBytes;
  std::int32_t status = query(kSystemProcessInformation, buffer.data(), kFirstQueryBytes, &returned);
  if (status == kStatusInfoLengthMismatch) {
    const std::uint64_t wanted = std::uint64_t{returned} + kRetryExtraBytes;
    // A reported length this close to 4 GiB cannot be asked for in a 32-bit length.
    if (wanted > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    const auto length = static_cast<std::uint32_t>(wanted);
    buffer.assign(length, std::byte{0});
    returned = length;
    status = query(kSystemProcessInformation, buffer.data(), length, &returned);
  }
  if (status < 0) return std::nullopt;
  return returned;
}

}  // namespace tessivo
