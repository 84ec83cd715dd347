#include "sampling/process_buffer.h"

#include <cstring>

namespace tessivo {

namespace {

// Field offsets of the 64-bit record.
constexpr std::size_t kNextEntryOffset = 0x00;
constexpr std::size_t kCreateTime = 0x20;
constexpr std::size_t kImageNameLength = 0x38;
constexpr std::size_t kImageNameBuffer = 0x40;
constexpr std::size_t kUniqueProcessId = 0x50;
constexpr std::size_t kIoCounters = 0xD0;

template <typename T>
T readAt(const std::byte* record, std::size_t offset) {
  // memcpy: the system aligns its records, a damaged or synthetic buffer need not.
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

// Writes the record's name into `name`, or empties it when the record has none that lies
// wholly inside the valid bytes.
void readName(const std::byte* data, std::size_t length, std::uint64_t bufferAddress,
              const std::byte* record, std::u16string& name) {
  const auto bytes = readAt<std::uint16_t>(record, kImageNameLength);
  const auto pointer = readAt<std::uint64_t>(record, kImageNameBuffer);
  const std::size_t units = bytes / 2;
  if (pointer == 0 || units == 0 || pointer < bufferAddress) {
    name.clear();
    return;
  }
  const std::uint64_t offset = pointer - bufferAddress;
  if (offset > length || length - offset < units * 2) {
    name.clear();
    return;
  }
  name.resize(units);
  std::memcpy(name.data(), data + offset, units * 2);
}

}  // namespace

void parseProcessBuffer(std::span<const std::byte> buffer, std::size_t returnedLength,
                        std::uint64_t bufferAddress, std::vector<ProcessSample>& out) {
  const std::size_t length = returnedLength < buffer.size() ? returnedLength : buffer.size();
  const std::byte* data = buffer.data();
  std::size_t count = 0;
  std::size_t at = 0;
  while (length - at >= kProcessRecordMinSize) {
    const std::byte* record = data + at;
    if (count == out.size()) out.emplace_back();
    ProcessSample& sample = out[count++];
    sample.pid = static_cast<std::uint32_t>(readAt<std::uint64_t>(record, kUniqueProcessId));
    sample.createTime = readAt<std::uint64_t>(record, kCreateTime);
    readName(data, length, bufferAddress, record, sample.name);
    if (sample.name.empty() && (sample.pid == 0 || sample.pid == 4)) sample.name = u"System";
    static_assert(sizeof(IoCounters) == 48, "six 64-bit counters, as in IO_COUNTERS");
    std::memcpy(&sample.counters, record + kIoCounters, sizeof(IoCounters));

    const auto next = readAt<std::uint32_t>(record, kNextEntryOffset);
    // A step shorter than a record would read overlapping garbage (or never end).
    if (next < kProcessRecordMinSize) break;
    if (next > length - at) break;
    at += next;
  }
  out.resize(count);
}

}  // namespace tessivo
