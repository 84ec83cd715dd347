// From a snapshot to activities: the walk over the process buffer and the tracker's accounting.
#include <gtest/gtest.h>

#include <cstring>

#include "sampling/io_tracker.h"
#include "sampling/process_buffer.h"

namespace tessivo {
namespace {

// A chain of 64-bit process records at a chosen address; each record is linked from the one before.
struct Chain {
  std::vector<std::byte> bytes;
  std::uint64_t base = 0x0000'7FF6'1234'0000ull;
  std::size_t last = 0;
  template <typename T>
  void put(std::size_t at, T value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
  }
  std::size_t record(std::uint64_t pid, std::uint64_t readOps, std::size_t size = 0x150) {
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    if (at > 0) put<std::uint32_t>(last, static_cast<std::uint32_t>(at - last));
    last = at;
    put<std::uint64_t>(at + 0x50, pid);
    put<std::uint64_t>(at + 0x20, 0x01D9'0000'0000'0000ull + pid);
    for (std::size_t i = 0; i < 6; ++i) put<std::uint64_t>(at + 0xD0 + 8 * i, readOps + i);
    return at;
  }
  void name(std::size_t rec, std::uint16_t bytesLong, std::uint64_t pointer, std::u16string_view text = {}) {
    for (std::size_t i = 0; i < text.size(); ++i) put<char16_t>(pointer - base + 2 * i, text[i]);
    put<std::uint16_t>(rec + 0x38, bytesLong);
    put<std::uint64_t>(rec + 0x40, pointer);
  }
  std::vector<ProcessSample> parse(std::size_t length, std::size_t stale = 0) const {
    std::vector<ProcessSample> out(stale, ProcessSample{9, u"a stale name that is long", {}, 1});
    parseProcessBuffer(bytes, length, base, out);
    return out;
  }
};

TEST(ProcessBuffer, ReadsEveryRecordIntoReusedOutputAndNeverPastTheValidBytes) {
  Chain b;
  const std::size_t first = b.record(0x1'0000'0123ull, 1000);  // only the low 32 bits count
  b.name(first, 22, b.base + first + 0x101, u"svchost.exe");    // odd address: read bytewise
  b.record(0, 0);
  b.name(b.record(4, 0), 0, b.base + 0x100);           // a pointer but no length: nameless
  b.record(8, 5);                                      // nameless: the stale name must go
  b.name(b.record(12, 0), 5, b.base + first + 0x101);  // an odd length reads whole units only
  const auto out = b.parse(b.bytes.size(), 6);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(std::tuple(out[0].pid, out[0].name, out[0].createTime, out[0].counters),
            std::tuple(0x123, u"svchost.exe", 0x01D9'0001'0000'0123ull,
                       IoCounters{1000, 1001, 1002, 1003, 1004, 1005}));
  EXPECT_EQ(std::tuple(out[1].name, out[2].name, out[3].name, out[4].name),
            std::tuple(u"System", u"System", u"", u"sv"));
  // Five records of 0x150: the last one's counters cut off, whole, a length beyond the buffer, none.
  for (auto [length, count] : {std::pair{0x63Fu, 4u}, {0x640u, 5u}, {1u << 20, 5u}, {0xFFu, 0u}})
    EXPECT_EQ(b.parse(length).size(), count) << length;
  for (const std::uint32_t link :
       {0x1000u, 0xFFFF'FFFFu, 8u}) {  // past the end, far past, into its own record
    b.put<std::uint32_t>(0x150, link);
    EXPECT_EQ(b.parse(b.bytes.size()).size(), 2u) << link;
  }
  // A name ending past the returned length, one before the buffer, one whose end would wrap.
  b.name(first, 16, b.base + 0x5F8, u"abcdefgh");
  EXPECT_EQ(std::tuple(b.parse(0x600)[0].name, b.parse(0x608)[0].name), std::tuple(u"", u"abcdefgh"));
  for (auto [length, pointer] :
       {std::pair{std::uint16_t{8}, b.base - 16}, {0xFFFE, 0xFFFF'FFFF'FFFF'FFF0ull}}) {
    b.name(first, length, pointer);
    EXPECT_EQ(b.parse(0x600)[0].name, u"") << pointer;
  }
}

// One process, pid 5, through one tracker into reused output, as a refresh does.
struct Tracker {
  IoTracker t;
  std::vector<ProcessActivity> out;
  std::vector<std::uint32_t> reused;
  ProcessActivity at(std::uint64_t now, std::uint64_t read, std::uint64_t write = 0,
                     std::uint64_t create = 0) {
    t.update({ProcessSample{5, u"p.exe", IoCounters{read / 100, write / 100, 3, read, write, 7}, create}},
             now, out, &reused);
    return out.at(0);
  }
};

TEST(IoTracker, SpeedsAreSmoothedByElapsedTimeAndNeverWrap) {
  constexpr std::uint64_t kBig = 666'000 + 12'345'678, kHuge = std::uint64_t{1} << 62;
  Tracker k;
  for (auto [now, read, write, readRate, writeRate] : {
           std::tuple{1000ull, 0ull, 0ull, 0ull, 0ull}, {1333, 333'000, 0, 83'250, 0},
           {1333, 333'000, 0, 0, 0},  // no time passed: 0 now, and the state is kept
           {1666, 666'000, 0, 159'569, 0}, {6666, kBig, 0, 2'469'135, 0},  // 4 s count fully; truncated
           {10'666, kBig + 4000, 0, 1000, 0}, {14'666, kBig + 4000, 4000, 0, 1000},
           {18'666, kBig + 4000, 100, 0, 0},  // a counter that went down gives 0
           {22'666, kBig + 4000 + kHuge, 100, kHuge / 4, 0}}) {  // an absurd jump does not wrap
    const ProcessActivity a = k.at(now, read, write);
    EXPECT_EQ(std::tuple(a.readRate, a.writeRate), std::tuple(readRate, writeRate)) << now;
  }
}

TEST(IoTracker, CountsFromFirstSightInRunDeltaAndRestartsOnModeChangeOrClear) {
  IoTracker t;
  const auto first =
      t.update({ProcessSample{9, u"b", {1, 1, 1, 4000, 500, 1}, 0}, ProcessSample{3, u"a", {}, 0}}, 0);
  EXPECT_EQ(std::tuple(first.size(), first[0].pid, first[1].name, first[1].counters),
            std::tuple(2, 3, u"b", IoCounters{}));
  EXPECT_EQ(t.update({ProcessSample{9, u"b", {41, 1, 1, 8000, 400, 1}, 0}}, 4000)[0].counters,
            (IoCounters{40, 0, 0, 4000, 0, 0}));  // a counter below its baseline shows 0
  Tracker k;
  enum Then { Go, Delta, Cumulative, Clear, Unknown };  // what happens before the step
  for (auto [then, now, read, bytes, ops, rate] : {
           std::tuple{Go, 0, 1000, 0, 0, 0}, {Go, 4000, 5000, 4000, 40, 1000},
           {Delta, 8000, 9000, 8000, 80, 1000},  // the same mode forgets nothing
           {Cumulative, 12'000, 13'000, 13'000, 130, 0}, {Go, 16'000, 17'000, 17'000, 170, 1000},
           {Delta, 20'000, 21'000, 0, 0, 0}, {Go, 24'000, 25'000, 4000, 40, 1000},
           {Clear, 28'000, 29'000, 0, 0, 0},       // forgets the entries, keeps the mode
           {Unknown, 32'000, 33'000, 4000, 40, 1000}}) {  // any other mode counts as RunDelta
    if (then == Delta || then == Cumulative)
      k.t.setCountMode(then == Delta ? CountMode::RunDelta : CountMode::SystemCumulative);
    if (then == Clear) k.t.clear();
    if (then == Unknown) k.t.countMode = static_cast<CountMode>(7);
    const ProcessActivity a = k.at(now, read);
    EXPECT_EQ(std::tuple(a.counters.readBytes, a.counters.readOps, a.readRate), std::tuple(bytes, ops, rate))
        << now;
  }
}

TEST(IoTracker, ReusedIdentifierStartsAfresh) {
  Tracker k;
  k.at(0, 50'000, 0, 111);
  EXPECT_EQ(k.at(4000, 60'000, 0, 111).readRate, 2500u);
  const ProcessActivity fresh = k.at(8000, 2000, 0, 222);  // a new process got pid 5
  EXPECT_EQ(std::tuple(k.reused, fresh.counters, fresh.readRate),
            std::tuple(std::vector<std::uint32_t>{5}, IoCounters{}, 0));
  EXPECT_EQ(k.at(12'000, 6000, 0, 222).readRate, 1000u);
  // An unknown creation time is never a reuse; the same process after an empty snapshot continues.
  EXPECT_EQ(k.at(16'000, 10'000, 0, 0).counters.readBytes, 8000u);
  k.t.update({}, 20'000, k.out, &k.reused);
  const ProcessActivity later = k.at(24'000, 18'000, 0, 222);
  EXPECT_EQ(std::tuple(k.reused.size(), later.counters.readBytes, later.readRate),
            std::tuple(0, 16'000, 1000));
}

}  // namespace
}  // namespace tessivo
