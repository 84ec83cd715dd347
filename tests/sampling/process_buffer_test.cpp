#include "sampling/process_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/text.h"

namespace tessivo {
namespace {

// Builds a chain of 64-bit process records at a chosen (64-bit) address; each record
// added is linked from the one before.
struct ChainBuilder {
  std::vector<std::byte> bytes;
  std::uint64_t base = 0x0000'7FF6'1234'0000ull;
  std::size_t last = 0;

  template <typename T>
  void put(std::size_t at, T value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
  }
  // A record of `size` bytes at the end; returns its offset.
  std::size_t record(std::uint64_t pid, std::uint64_t readBytes, std::size_t size = 0x150) {
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    if (at > 0) next(last, static_cast<std::uint32_t>(at - last));
    last = at;
    put<std::uint64_t>(at + 0x50, pid);
    put<std::uint64_t>(at + 0x20, 0x01D9'0000'0000'0000ull + pid);
    for (std::size_t i = 0; i < 6; ++i) put<std::uint64_t>(at + 0xD0 + 8 * i, readBytes + i);
    return at;
  }
  void name(std::size_t rec, std::size_t at, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) put<char16_t>(at + 2 * i, text[i]);
    nameField(rec, static_cast<std::uint16_t>(text.size() * 2), base + at);
  }
  void nameField(std::size_t rec, std::uint16_t length, std::uint64_t pointer) {
    put<std::uint16_t>(rec + 0x38, length);
    put<std::uint64_t>(rec + 0x40, pointer);
  }
  void next(std::size_t rec, std::uint32_t offset) { put<std::uint32_t>(rec, offset); }
  std::vector<ProcessSample> parse(std::size_t length) const {
    std::vector<ProcessSample> out;
    parseProcessBuffer(bytes, length, base, out);
    return out;
  }
};

TEST(ProcessBuffer, ReadsEveryFieldOfAChain) {
  ChainBuilder b;
  const std::size_t first = b.record(0x1'0000'0123ull, 1000);  // only the low 32 bits count
  b.name(first, first + 0x100, u"svchost.exe");
  b.record(0, 0);
  const std::size_t system = b.record(4, 0);
  b.nameField(system, 0, b.base + system + 0x100);  // a pointer but no length: nameless
  b.record(8, 5);  // last: NextEntryOffset 0
  const auto out = b.parse(b.bytes.size());
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].pid, 0x123u);
  EXPECT_EQ(out[0].name, u"svchost.exe");
  EXPECT_EQ(out[0].createTime, 0x01D9'0001'0000'0123ull);
  EXPECT_EQ(out[0].counters, (IoCounters{1000, 1001, 1002, 1003, 1004, 1005}));
  EXPECT_EQ(out[1].name, u"System");
  EXPECT_EQ(out[2].name, u"System");
  EXPECT_EQ(out[3].pid, 8u);
  EXPECT_EQ(out[3].name, u"");
}

TEST(ProcessBuffer, ReusesTheOutputAndHandlesOddPlacement) {
  ChainBuilder b;
  const std::size_t rec = b.record(42, 7, 0x160);
  b.name(rec, rec + 0x101, u"a.exe");  // odd address: read bytewise, not through a cast
  b.nameField(rec, 5, b.base + rec + 0x101);  // an odd length reads whole units only
  std::vector<std::byte> shifted(1);
  shifted.insert(shifted.end(), b.bytes.begin(), b.bytes.end());
  std::vector<ProcessSample> out(5, ProcessSample{9, u"a stale name that is long", {}, 1});
  parseProcessBuffer(std::span(shifted).subspan(1), b.bytes.size(), b.base, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].pid, 42u);
  EXPECT_EQ(out[0].name, u"a.");
  EXPECT_EQ(out[0].counters.readOps, 7u);
}

TEST(ProcessBuffer, NeverReadsPastTheReturnedLengthOrAlongABadLink) {
  ChainBuilder b;
  const std::size_t first = b.record(10, 0);
  b.record(11, 0);
  EXPECT_EQ(b.parse(0x150 + 0xFF).size(), 1u);  // second record's counters cut off
  EXPECT_EQ(b.parse(0x150 + 0x100).size(), 2u);
  EXPECT_EQ(b.parse(1 << 20).size(), 2u);  // a reported length beyond the buffer is clamped
  EXPECT_TRUE(b.parse(0xFF).empty());
  EXPECT_TRUE(b.parse(0).empty());
  // Past the end, far past it, and into its own record (overlapping garbage).
  for (const std::uint32_t link : {0x400u, 0xFFFF'FFFFu, 8u}) {
    b.next(first, link);
    EXPECT_EQ(b.parse(b.bytes.size()).size(), 1u) << link;
  }
}

TEST(ProcessBuffer, NamesOutsideTheBufferCountAsNoName) {
  ChainBuilder b;
  const std::size_t rec = b.record(4, 0, 0x200);
  const std::size_t length = 0x180;
  b.name(rec, 0x178, u"abcdefgh");  // starts inside, ends beyond the returned length
  EXPECT_EQ(b.parse(length)[0].name, u"System");
  EXPECT_EQ(b.parse(b.bytes.size())[0].name, u"abcdefgh");
  b.nameField(rec, 8, b.base - 16);  // before the buffer
  EXPECT_EQ(b.parse(length)[0].name, u"System");
  b.nameField(rec, 0xFFFE, 0xFFFF'FFFF'FFFF'FFF0ull);  // pointer + length would wrap
  EXPECT_EQ(b.parse(length)[0].name, u"System");
  b.put<std::uint64_t>(rec + 0x50, 77);
  EXPECT_EQ(b.parse(length)[0].name, u"");
}

}  // namespace
}  // namespace tessivo
