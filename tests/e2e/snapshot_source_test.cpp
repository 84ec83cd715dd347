// The native source against the system it runs on (Wine here): what it reads must describe
// this very process correctly.
#include "win32/snapshot_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"

namespace tessivo {
namespace {

std::u16string ownPath() {
  std::u16string path(2048, u'\0');
  const DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), 2048);
  path.resize(n);
  return path;
}

std::u16string fileName(const std::u16string& path) {
  const auto slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

TEST(SnapshotSource, SnapshotDescribesThisProcess) {
  SnapshotSource source;
  ASSERT_TRUE(source.resolve());
  const auto resolved = source.querySystemInformation;
  EXPECT_TRUE(source.resolve());
  EXPECT_EQ(source.querySystemInformation, resolved) << "resolving again must change nothing";

  std::vector<ProcessSample> samples(3);  // storage to be reused, not appended to
  samples[0].pid = 0xFFFFFFF0u;
  source.readSnapshot(samples);
  ASSERT_FALSE(samples.empty());
  EXPECT_TRUE(std::none_of(samples.begin(), samples.end(), [](const ProcessSample& s) { return s.pid == 0xFFFFFFF0u; }));

  // This process's counters, read from its own record, lie between two direct queries.
  IO_COUNTERS before{};
  IO_COUNTERS after{};
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &before));
  source.readSnapshot(samples);
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &after));
  const DWORD self = GetCurrentProcessId();
  const auto me = std::find_if(samples.begin(), samples.end(), [self](const ProcessSample& s) { return s.pid == self; });
  ASSERT_NE(me, samples.end()) << "this process is missing from the snapshot";
  EXPECT_EQ(compareNoCase(me->name, fileName(ownPath())), 0) << toUtf8(me->name);
  const IoCounters& c = me->counters;
  EXPECT_TRUE(before.ReadOperationCount <= c.readOps && c.readOps <= after.ReadOperationCount);
  EXPECT_TRUE(before.WriteOperationCount <= c.writeOps && c.writeOps <= after.WriteOperationCount);
  EXPECT_TRUE(before.OtherOperationCount <= c.otherOps && c.otherOps <= after.OtherOperationCount);
  EXPECT_TRUE(before.ReadTransferCount <= c.readBytes && c.readBytes <= after.ReadTransferCount);
  EXPECT_TRUE(before.WriteTransferCount <= c.writeBytes && c.writeBytes <= after.WriteTransferCount);
  EXPECT_TRUE(before.OtherTransferCount <= c.otherBytes && c.otherBytes <= after.OtherTransferCount);
  if (after.ReadTransferCount + after.WriteTransferCount + after.OtherTransferCount == 0)
    std::printf("snapshot: this system reports no I/O counters (all zero)\n");

  // Every named process carries a plausible name: no terminators or cut-off garbage.
  for (const ProcessSample& s : samples) {
    EXPECT_EQ(s.name.find(u'\0'), std::u16string::npos) << s.pid;
  }
}

TEST(SnapshotSource, ImagePathAndClock) {
  SnapshotSource source;
  const std::u16string path = source.imagePath(GetCurrentProcessId());
  EXPECT_EQ(compareNoCase(path, ownPath()), 0) << toUtf8(path) << " vs " << toUtf8(ownPath());
  EXPECT_EQ(path.find(u'\0'), std::u16string::npos);
  // No process has this identifier: the path is empty, not an error.
  EXPECT_TRUE(source.imagePath(0xFFFFFFF0u).empty());

  const std::uint64_t before = GetTickCount64();
  const std::uint64_t now = source.nowMs();
  const std::uint64_t after = GetTickCount64();
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

// Whether the token now holds SeDebugPrivilege enabled.
bool debugPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  PRIVILEGE_SET set{};
  set.PrivilegeCount = 1;
  set.Control = PRIVILEGE_SET_ALL_NECESSARY;
  BOOL held = FALSE;
  const bool looked = LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &set.Privilege[0].Luid) &&
                      PrivilegeCheck(token, &set, &held);
  CloseHandle(token);
  return looked && held;
}

TEST(SnapshotSource, DebugPrivilegeReportsWhatTheTokenHolds) {
  const bool granted = enableDebugPrivilege();
  EXPECT_EQ(granted, debugPrivilegeEnabled());
  // Enabling an enabled privilege is not a failure.
  EXPECT_EQ(enableDebugPrivilege(), granted);
}

}  // namespace
}  // namespace tessivo
