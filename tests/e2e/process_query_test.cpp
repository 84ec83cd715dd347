#include "win32/process_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

namespace tessivo {
namespace {

struct Answer {
  std::int32_t status;
  std::uint32_t returned;
};

// Plays the system call: answers from a script and records what it was asked.
struct FakeQuery {
  FakeQuery(std::initializer_list<Answer> script) : answers(script) {}

  std::deque<Answer> answers;
  std::vector<std::uint32_t> lengths;
  std::vector<std::uint32_t> classes;
  bool zeroedEveryTime = true;

  std::int32_t operator()(std::uint32_t informationClass, void* buffer, std::uint32_t length,
                          std::uint32_t* returned) {
    classes.push_back(informationClass);
    lengths.push_back(length);
    const auto* bytes = static_cast<const std::byte*>(buffer);
    zeroedEveryTime = zeroedEveryTime && std::all_of(bytes, bytes + length, [](std::byte b) { return b == std::byte{0}; });
    // Scribble, so that a retry that reuses the buffer without zeroing it shows.
    std::fill_n(static_cast<std::byte*>(buffer), std::min<std::uint32_t>(length, 64), std::byte{0xAB});
    const Answer a = answers.front();
    answers.pop_front();
    *returned = a.returned;
    return a.status;
  }
};

TEST(ProcessQuery, FirstCallThatFitsIsTheOnlyOne) {
  FakeQuery query{{0, 12345}};
  std::vector<std::byte> buffer;
  const auto length = queryProcessBuffer(query, buffer);
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 12345u);
  ASSERT_EQ(query.lengths.size(), 1u);
  EXPECT_EQ(query.lengths[0], 40960u);
  EXPECT_EQ(query.classes[0], 5u);
  EXPECT_EQ(buffer.size(), 40960u);
  EXPECT_TRUE(query.zeroedEveryTime);
}

TEST(ProcessQuery, TooSmallRetriesOnceWithReportedLengthPlus16000) {
  FakeQuery query{{kStatusInfoLengthMismatch, 100000}, {0, 99000}};
  std::vector<std::byte> buffer;
  const auto length = queryProcessBuffer(query, buffer);
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 99000u);
  ASSERT_EQ(query.lengths.size(), 2u);
  EXPECT_EQ(query.lengths[1], 116000u);
  EXPECT_EQ(buffer.size(), 116000u);
  EXPECT_TRUE(query.zeroedEveryTime) << "the retry must start from a zeroed buffer";
  // A success status other than 0 counts as success too.
  FakeQuery informational{{0x00000105, 300}};
  EXPECT_EQ(queryProcessBuffer(informational, buffer), std::optional<std::uint32_t>(300u));
}

TEST(ProcessQuery, FailuresGiveNothingAndNeverRetryTwice) {
  std::vector<std::byte> buffer;
  FakeQuery twice{{kStatusInfoLengthMismatch, 50000}, {kStatusInfoLengthMismatch, 80000}};
  EXPECT_FALSE(queryProcessBuffer(twice, buffer).has_value());
  EXPECT_EQ(twice.lengths.size(), 2u);

  FakeQuery denied{{static_cast<std::int32_t>(0xC0000022u), 0}};  // access denied: no retry
  EXPECT_FALSE(queryProcessBuffer(denied, buffer).has_value());
  EXPECT_EQ(denied.lengths.size(), 1u);

  // A reported length whose retry size does not fit 32 bits must not wrap to a tiny buffer.
  FakeQuery huge{{kStatusInfoLengthMismatch, 0xFFFFF000u}};
  EXPECT_FALSE(queryProcessBuffer(huge, buffer).has_value());
  EXPECT_EQ(huge.lengths.size(), 1u);
}

}  // namespace
}  // namespace tessivo
