// The native process source: the query's buffer handling over a scripted system call, and
// the real source against the system it runs on (Wine here), which must describe this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"
#include "win32/process_query.h"
#include "win32/snapshot_source.h"

namespace tessivo {
namespace {

using Answer = std::pair<std::int32_t, std::uint32_t>;  // status, length returned

TEST(ProcessQuery, RetriesOnceWithTheReportedLengthInAZeroedBuffer) {
  const std::int32_t tooSmall = kStatusInfoLengthMismatch, denied = static_cast<std::int32_t>(0xC0000022u);
  const struct {
    const char* name;
    std::vector<Answer> answers;
    std::optional<std::uint32_t> result;
    std::vector<std::uint32_t> lengths;  // asked for, in order
  } cases[] = {
      {"fits at once", {{0, 12345}}, 12345, {40960}},
      {"too small, then fits in the reported length plus 16000", {{tooSmall, 100000}, {0, 99000}}, 99000,
       {40960, 116000}},
      {"a success status other than 0", {{0x105, 300}}, 300, {40960}},
      {"too small twice", {{tooSmall, 50000}, {tooSmall, 80000}}, std::nullopt, {40960, 66000}},
      {"denied: no retry", {{denied, 0}}, std::nullopt, {40960}},
      {"a retry length past 32 bits must not wrap", {{tooSmall, 0xFFFFF000u}}, std::nullopt, {40960}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::deque<Answer> answers(c.answers.begin(), c.answers.end());
    std::vector<std::uint32_t> lengths;
    std::vector<std::byte> buffer;
    const auto query = [&](std::uint32_t type, void* data, std::uint32_t length, std::uint32_t* returned) {
      EXPECT_EQ(type, 5u);
      auto* bytes = static_cast<std::byte*>(data);
      EXPECT_TRUE(std::all_of(bytes, bytes + length, [](std::byte b) { return b == std::byte{0}; }));
      std::fill_n(bytes, std::min<std::uint32_t>(length, 64), std::byte{0xAB});  // a retry must zero it again
      lengths.push_back(length);
      const auto [status, reported] = answers.front();
      answers.pop_front();
      *returned = reported;
      return status;
    };
    EXPECT_EQ(queryProcessBuffer(query, buffer), c.result);
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(buffer.size(), lengths.back());
  }
}

TEST(SnapshotSource, SnapshotAndPathDescribeThisProcess) {
  SnapshotSource source;
  ASSERT_TRUE(source.resolve());
  std::vector<ProcessSample> samples(3);  // storage to be reused, not appended to
  samples[0].pid = 0xFFFFFFF0u;
  IO_COUNTERS before{}, after{};
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &before));
  source.readSnapshot(samples);
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &after));
  for (const ProcessSample& s : samples) {
    EXPECT_NE(s.pid, 0xFFFFFFF0u);
    EXPECT_EQ(s.name.find(u'\0'), std::u16string::npos) << "a terminator in the name of " << s.pid;
  }
  const auto me = std::find_if(samples.begin(), samples.end(),
                               [](const ProcessSample& s) { return s.pid == GetCurrentProcessId(); });
  ASSERT_NE(me, samples.end()) << "this process is missing from the snapshot";
  // Its counters, read from its own record, lie between two direct queries.
  const IoCounters& c = me->counters;
  EXPECT_TRUE(before.ReadOperationCount <= c.readOps && c.readOps <= after.ReadOperationCount);
  EXPECT_TRUE(before.WriteOperationCount <= c.writeOps && c.writeOps <= after.WriteOperationCount);
  EXPECT_TRUE(before.OtherOperationCount <= c.otherOps && c.otherOps <= after.OtherOperationCount);
  EXPECT_TRUE(before.ReadTransferCount <= c.readBytes && c.readBytes <= after.ReadTransferCount);
  EXPECT_TRUE(before.WriteTransferCount <= c.writeBytes && c.writeBytes <= after.WriteTransferCount);
  EXPECT_TRUE(before.OtherTransferCount <= c.otherBytes && c.otherBytes <= after.OtherTransferCount);

  // Its name and path are checked on the shipped program; here, that the path holds no terminator.
  const std::u16string image = source.imagePath(GetCurrentProcessId());
  EXPECT_TRUE(!image.empty() && image.find(u'\0') == std::u16string::npos) << toUtf8(image);
  EXPECT_TRUE(source.imagePath(0xFFFFFFF0u).empty()) << "no such process: empty, not an error";
}

TEST(SnapshotSource, DebugPrivilegeReportsWhatTheTokenHolds) {
  const bool granted = enableDebugPrivilege();
  HANDLE token = nullptr;
  PRIVILEGE_SET set{1, PRIVILEGE_SET_ALL_NECESSARY, {}};
  BOOL held = FALSE;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &set.Privilege[0].Luid) &&
              PrivilegeCheck(token, &set, &held));
  CloseHandle(token);
  EXPECT_EQ(granted, held != FALSE);
  EXPECT_EQ(enableDebugPrivilege(), granted) << "enabling an enabled privilege is not a failure";
}

}  // namespace
}  // namespace tessivo
