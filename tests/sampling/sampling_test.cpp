// From a snapshot to rows: buffer walk, tracker, row building and the indexes kept between them.
#include <gtest/gtest.h>

#include <cstring>

#include "core/text.h"
#include "sampling/io_tracker.h"
#include "sampling/process_buffer.h"
#include "sampling/row_builder.h"
#include "support/refresh_rig.h"

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
  for (const std::uint32_t link : {0x1000u, 0xFFFF'FFFFu, 8u}) {  // past the end, far past, into its record
    b.put<std::uint32_t>(0x150, link);
    EXPECT_EQ(b.parse(b.bytes.size()).size(), 2u) << link;
  }
  // A name ending past the returned length, one before the buffer, one whose end would wrap.
  b.name(first, 16, b.base + 0x5F8, u"abcdefgh");
  EXPECT_EQ(std::tuple(b.parse(0x600)[0].name, b.parse(0x608)[0].name), std::tuple(u"", u"abcdefgh"));
  for (auto [length, pointer] : {std::pair{std::uint16_t{8}, b.base - 16}, {0xFFFE, 0xFFFF'FFFF'FFFF'FFF0}}) {
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
    t.update({{5, u"p.exe", {read / 100, write / 100, 3, read, write, 7}, create}}, now, out, &reused);
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
           {18'666, kBig + 4000 + kHuge, 100, kHuge / 4, 0}}) {  // an absurd jump or a fall does not wrap
    const ProcessActivity a = k.at(now, read, write);
    EXPECT_EQ(std::tuple(a.readRate, a.writeRate), std::tuple(readRate, writeRate)) << now;
  }
}

TEST(IoTracker, CountsFromFirstSightInRunDeltaAndRestartsOnModeChangeClearOrReuse) {
  IoTracker t;
  const auto first = t.update({{9, u"b", {1, 1, 1, 4000, 500, 1}, 0}, {3, u"a", {}, 0}}, 0);
  EXPECT_EQ(std::tuple(first.size(), first[0].pid, first[1].name, first[1].counters),
            std::tuple(2, 3, u"b", IoCounters{}));
  EXPECT_EQ(t.update({ProcessSample{9, u"b", {41, 1, 1, 8000, 400, 1}, 0}}, 4000)[0].counters,
            (IoCounters{40, 0, 0, 4000, 0, 0}));  // a counter below its baseline shows 0
  Tracker k;
  enum Then { Go, Delta, Cumulative, Clear };  // what happens before the step
  for (auto [then, now, read, create, bytes, ops, rate, reused] : {
           std::tuple{Go, 0, 1000, 0, 0, 0, 0, 0u}, {Go, 4000, 5000, 0, 4000, 40, 1000, 0},
           {Delta, 8000, 9000, 0, 8000, 80, 1000, 0},  // the same mode forgets nothing
           {Cumulative, 12'000, 13'000, 0, 13'000, 130, 0, 0}, {Go, 16'000, 17'000, 0, 17'000, 170, 1000, 0},
           {Delta, 20'000, 21'000, 0, 0, 0, 0, 0}, {Go, 24'000, 25'000, 0, 4000, 40, 1000, 0},
           {Clear, 28'000, 29'000, 0, 0, 0, 0, 0},               // forgets the entries, keeps the mode
           {Go, 32'000, 33'000, 0, 4000, 40, 1000, 0},           // counted from the clear in RunDelta
           {Go, 36'000, 37'000, 111, 8000, 80, 1000, 0},         // a creation time learnt is no reuse
           {Go, 40'000, 3000, 222, 0, 0, 0, 1},                  // another one: a new process got pid 5
           {Go, 44'000, 7000, 0, 4000, 40, 1000, 0}}) {          // an unknown one is never a reuse
    if (then == Delta || then == Cumulative)
      k.t.setCountMode(then == Delta ? CountMode::RunDelta : CountMode::SystemCumulative);
    if (then == Clear) k.t.clear();
    const ProcessActivity a = k.at(now, read, 0, create);
    EXPECT_EQ(std::tuple(a.counters.readBytes, a.counters.readOps, a.readRate, k.reused.size()),
              std::tuple(bytes, ops, rate, reused)) << now;
  }
}

TEST(IoTracker, ForgetsOnlyWhoIsAbsentFromNonEmptySnapshotsForTenSecondsSoChurnStaysBounded) {
  testing::ScriptedSystem sys;  // pid 1 and 2 of 1000 stay, the other 998 are new at every snapshot
  for (std::uint32_t pid = 1; pid <= 1000; ++pid) sys.add(pid, u"p").perTick.readBytes = 1000;
  IoTracker t;
  std::vector<ProcessSample> samples;
  std::vector<ProcessActivity> out;
  std::uint32_t next = 1000;
  std::size_t most = 0;
  const auto snapshot = [&](bool hide2) {
    for (std::size_t i = 0; i < 1000; ++i) sys.processes[i].pid = i > 1 || (i == 1 && hide2) ? ++next : i + 1;
    sys.readSnapshot(samples);
    t.update(samples, sys.nowMs(), out);
    most = std::max(most, t.size());
  };
  const auto bytesOf2 = [&] {  // RunDelta bytes of pid 2, -1 when absent
    return out.size() < 2 || out[1].pid != 2 ? -1 : static_cast<std::int64_t>(out[1].counters.readBytes);
  };
  for (auto [step, times, fail, hide, bytes] : {
           std::tuple{333u, 1, 0, false, 0}, {333, 1, 0, true, -1}, {333, 1, 0, false, 2000},  // resumes
           {333, 2, 100, true, -1}, {333, 1, 0, false, 105'000},  // 33 s of failed snapshots age nobody
           {333, 30, 0, true, -1}, {333, 1, 0, false, 136'000},   // absent 9.99 s
           {333, 31, 0, true, -1}, {333, 1, 0, false, 0},         // 10.3 s: forgotten, counted anew
           {10'000, 1, 0, true, -1}, {10'000, 1, 0, false, 2000}}) {  // a single 10 s snapshot missed
    std::tie(sys.stepMs, sys.failReads) = std::tuple(step, fail);
    for (int i = 0; i < times + fail; ++i) snapshot(hide);
    EXPECT_EQ(bytesOf2(), bytes) << next;
  }
  sys.stepMs = 333;
  while (next < 1'000'000) snapshot(false);
  const std::size_t buckets = t.states.bucket_count();
  for (int i = 0; i < 300; ++i) snapshot(false);  // 300,000 more: no growth
  EXPECT_EQ(std::tuple(out[0].counters.readBytes, t.states.bucket_count()),
            std::tuple(1000 * (sys.readCount - 1), buckets));
  EXPECT_LT(most, 998u * 64);  // 31 snapshots to be forgotten, at most 32 more to be swept
}

using testing::named;
using testing::Texts;

// Activities with counters base + 1 .. base + 6 and speeds base + 7, base + 8, of processes the system knows.
struct Rows : ::testing::Test {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  std::vector<ProcessActivity> activities;
  void add(std::uint32_t pid, std::u16string name, std::u16string path, std::uint64_t base = 0) {
    sys.add(pid, name, std::move(path));
    const IoCounters counters{base + 1, base + 2, base + 3, base + 4, base + 5, base + 6};
    activities.push_back({pid, std::move(name), counters, base + 7, base + 8});
  }
};

TEST_F(Rows, GroupByPathIgnoringAsciiCaseElseByNameAndRebuildInPlace) {
  for (auto [pid, name, path, base] : {std::tuple{0u, u"System", u"", 0u}, {4, u"System", u"", 0},
        {10, u"FOO.EXE", u"c:\\Apps\\FOO.EXE", 10}, {12, u"", u"", 0},
        {20, u"foo.exe", u"C:\\apps\\foo.exe", 100}, {21, u"svc", u"C:\\Windows/svc.exe", 0},
        {22, u"setup.exe", u"C:\\a\\setup.exe", 0}, {23, u"Ä.exe", u"", 0}, {24, u"ä.exe", u"", 0},
        {25, u"", u"", 0}, {26, u"sys.exe", u"", 0}, {27, u"SYS.EXE", u"bare.exe", 0},
        {28, u"setup.exe", u"D:\\b\\setup.exe", 0}})  // the last: the same name, another program
    add(pid, name, path, base);
  RowBuilder builder;
  std::vector<ProcessRow> rows;
  builder.build(activities, true, cache, sys, rows);  // named by the lower pid's path, after either separator
  EXPECT_EQ(named(rows),
            (Texts{"System/14", "FOO.EXE/124", "（未知）/14", "svc.exe/7", "setup.exe/7", "Ä.exe/7",
                   "ä.exe/7", "sys.exe/7", "bare.exe/7", "setup.exe/7"}));  // only A-Z fold
  EXPECT_EQ(std::tuple(rows[1].imagePath, rows[1].pid, rows[1].counters, rows[1].writeRate),
            std::tuple(u"c:\\Apps\\FOO.EXE", 0, IoCounters{112, 114, 116, 118, 120, 122}, 126));
  builder.build(activities, false, cache, sys, rows);
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(
      std::tuple(rows[1].pid, rows[1].name, rows[3].name, rows[4].imagePath, rows[4].counters),
      std::tuple(4, u"System", kUnknownName, u"C:\\apps\\foo.exe", IoCounters{101, 102, 103, 104, 105, 106}));
  EXPECT_EQ(std::tuple(sys.imagePathCalls, fileNamePart(u"C:\\dir\\")), std::tuple(11, u""));  // once per pid
  builder.build(activities, true, cache, sys, rows);  // into the rows that held processes: no pid left behind
  EXPECT_EQ(std::ranges::count(rows, 0u, &ProcessRow::pid), 10);
  activities.resize(2);
  builder.build(activities, true, cache, sys, rows);
  EXPECT_EQ(named(rows), Texts{"System/14"});
}

TEST_F(Rows, PathCacheKeepsOnlyLiveIdentifiers) {
  using Pids = std::vector<std::uint32_t>;
  for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u}) cache.pathOf(pid, sys);
  for (const auto& [retain, kept] :
       {std::pair<Pids, Pids>{{4, 12, 20, 99}, {4, 12, 20}},  // retaining adds none
        {{20, 4}, {4, 20}}, {{20, 20}, {20}}, {{}, {}}}) {  // any order, twice
    cache.retainOnly(retain);
    Pids now;
    for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u, 99u})
      if (cache.contains(pid)) now.push_back(pid);
    EXPECT_EQ(std::tuple(now, cache.size()), std::tuple(kept, kept.size()));
  }
  // An exec shows as another image generation of the same pid: its path is asked again, once.
  const std::uint64_t asked = sys.imagePathCalls;
  for (std::uint32_t generation : {0u, 0u, 1u, 1u, 3u, 3u}) {
    cache.pathOf(8, sys);
    cache.followGenerations(std::vector<ProcessSample>{{8, u"a", {}, 0, generation}});
  }
  cache.forget(8);  // the pid reused: its next process's generations are its own
  cache.pathOf(8, sys);
  cache.followGenerations(std::vector<ProcessSample>{{8, u"a", {}, 0, 3}});
  cache.pathOf(8, sys);
  EXPECT_EQ(std::tuple(sys.imagePathCalls - asked, cache.contains(8)), std::tuple(5, true));
}

}  // namespace
}  // namespace tessivo
