#include "linux/proc_system.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/text.h"
#include "sampling/io_tracker.h"

namespace tessivo {
namespace {

namespace fs = std::filesystem;

std::string statText(std::uint32_t pid, std::string_view comm, std::uint64_t startTime) {
  std::string line = std::to_string(pid) + " (" + std::string(comm) + ") S";
  for (int field = 4; field <= 52; ++field) line += ' ' + std::to_string(field == 22 ? startTime : 0);
  return line + "\n";
}

std::string ioText(std::uint64_t base) {
  // rchar, wchar, syscr, syscw, read_bytes, write_bytes: base + 1 .. base + 6
  std::string text;
  const char* keys[] = {"rchar", "wchar", "syscr", "syscw", "read_bytes", "write_bytes"};
  for (int i = 0; i < 6; ++i) text += std::string(keys[i]) + ": " + std::to_string(base + 1 + static_cast<unsigned>(i)) + "\n";
  return text + "cancelled_write_bytes: 0\n";
}

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

// A /proc look-alike in a temporary directory.
struct ProcTree : ::testing::Test {
  fs::path root;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "proc-tree-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  void process(std::uint32_t pid, std::string_view comm, std::uint64_t startTime, std::uint64_t ioBase) {
    fs::create_directories(root / std::to_string(pid));
    writeFile(root / std::to_string(pid) / "stat", statText(pid, comm, startTime));
    writeFile(root / std::to_string(pid) / "io", ioText(ioBase));
    writeFile(root / std::to_string(pid) / "comm", std::string(comm) + "\n");
  }
  // The kernel's descriptors of a process fail once it is gone; files in a tree keep their
  // contents, so a gone process's files are emptied before the directory goes.
  void exitProcess(std::uint32_t pid) {
    for (const char* leaf : {"stat", "comm", "io"}) fs::resize_file(root / std::to_string(pid) / leaf, 0);
    fs::remove_all(root / std::to_string(pid));
  }
  std::vector<ProcessSample> snapshot(ProcSystem& system) {
    std::vector<ProcessSample> out;
    system.readSnapshot(out);
    return out;
  }
};

// "pid name createTime readOps writeOps readBytes writeBytes" of every sample.
std::vector<std::string> describe(const std::vector<ProcessSample>& samples) {
  std::vector<std::string> out;
  for (const ProcessSample& s : samples) {
    const IoCounters& c = s.counters;
    EXPECT_EQ(c.otherOps + c.otherBytes, 0u);
    out.push_back(std::to_string(s.pid) + " " + toUtf8(s.name) + " " + std::to_string(s.createTime) + " " +
                  std::to_string(c.readOps) + " " + std::to_string(c.writeOps) + " " + std::to_string(c.readBytes) +
                  " " + std::to_string(c.writeBytes));
  }
  return out;
}

TEST_F(ProcTree, ListsProcessesByPidWithTheirCounters) {
  process(30, "web (main) x", 500, 1000);
  process(7, "daemon", 40, 10);
  fs::remove(root / "7" / "io");  // counters not readable: listed with zeros
  process(12, "gone", 41, 20);
  fs::remove(root / "12" / "stat");  // exited between the listing and the read
  process(9, "odd", 42, 0);
  fs::remove(root / "9" / "io");
  fs::create_directory(root / "9" / "io");  // a read that fails
  fs::create_directory(root / "self");
  fs::create_directory(root / "0012");
  writeFile(root / "44", "a file, not a process");

  ProcSystem system(root.string());
  const std::vector<std::string> all = {"7 daemon 40 0 0 0 0", "9 odd 42 0 0 0 0", "30 web (main) x 500 1003 1004 1001 1002"};
  EXPECT_EQ(describe(snapshot(system)), all);
  EXPECT_EQ(describe(snapshot(system)), all);  // the same through kept descriptors
  EXPECT_EQ(system.keptDescriptors(), 4u);     // three comm files, one io file

  system.setByteSource(ProcByteSource::DiskOnly);
  EXPECT_EQ(describe(snapshot(system))[2], "30 web (main) x 500 1003 1004 1005 1006");

  fs::remove_all(root);
  EXPECT_TRUE(snapshot(system).empty());
  ProcSystem missing((root / "none").string());
  EXPECT_TRUE(snapshot(missing).empty());
}

TEST_F(ProcTree, ExitedAndReusedPids) {
  process(5, "first", 100, 0);
  process(6, "other", 101, 0);
  process(8, "sh", 102, 0);
  ProcSystem system(root.string());
  ASSERT_EQ(snapshot(system).size(), 3u);

  exitProcess(6);
  exitProcess(5);
  process(5, "second", 900, 5000);  // the pid taken by a new process, new files
  writeFile(root / "8" / "comm", "make\n");  // an exec: same process, a new name soon
  EXPECT_EQ(describe(snapshot(system)),
            (std::vector<std::string>{"5 second 900 5003 5004 5001 5002", "8 sh 102 3 4 1 2"}));
  for (int i = 0; i < 7; ++i) snapshot(system);
  EXPECT_EQ(describe(snapshot(system))[1], "8 make 102 3 4 1 2");
  EXPECT_EQ(system.keptDescriptors(), 4u);
}

// Sets the soft descriptor limit for one test and puts the old one back.
struct FileLimit {
  rlimit old{};
  explicit FileLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit changed = old;
    changed.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &changed);
  }
  ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &old); }
};

// The lowest free descriptor: with the soft limit there, every open fails.
rlim_t lowestFreeDescriptor() {
  const int probe = ::dup(0);
  ::close(probe);
  return static_cast<rlim_t>(probe);
}

TEST_F(ProcTree, ReadsOnWhenDescriptorsRunShort) {
  for (std::uint32_t pid = 100; pid < 120; ++pid) process(pid, "p", pid, pid * 10);
  ProcSystem system(root.string());
  std::vector<ProcessSample> out;
  {
    const FileLimit limit(128 + 6);  // room to keep six
    for (int i = 0; i < 2; ++i) {
      system.readSnapshot(out);
      ASSERT_EQ(out.size(), 20u);
      for (const ProcessSample& s : out) EXPECT_EQ(s.counters.writeBytes, s.pid * 10 + 2) << s.pid;
    }
    EXPECT_EQ(system.keptDescriptors(), 6u);
  }
  {
    // Not one descriptor left: what is kept is still read, nothing is listed with zeros.
    const FileLimit limit(lowestFreeDescriptor());
    system.readSnapshot(out);
  }
  ASSERT_EQ(out.size(), 3u);
  for (const ProcessSample& s : out) EXPECT_EQ(s.counters.readBytes, s.pid * 10 + 1);
}

TEST_F(ProcTree, ImagePathsFromExecutableLinks) {
  process(3, "a", 1, 0);
  process(4, "b", 1, 0);
  fs::create_symlink("/opt/app/bin/t\xC3\xB6\xC3\xB6l (deleted)", root / "3" / "exe");
  ProcSystem system(root.string());
  EXPECT_EQ(system.imagePath(3), u"/opt/app/bin/tööl");
  EXPECT_EQ(system.imagePath(4), u"");
  EXPECT_EQ(system.imagePath(5), u"");
}

// The real /proc: a child's 4 MiB of writes show in its run delta, and it is gone once reaped.
TEST(ProcSystemLive, CountsAChildsWritesAndForgetsItWhenGone) {
  int go[2];
  int done[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(go[1]);  // else the parent's close would never read as the end
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) ::_exit(1);
    std::string path = (fs::temp_directory_path() / "proc-write-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    ::unlink(path.c_str());
    static std::array<char, 64 * 1024> block{};
    for (int i = 0; i < 64; ++i)
      if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) ::_exit(2);
    if (::write(done[1], &byte, 1) != 1) ::_exit(3);
    (void)::read(go[0], &byte, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ProcSystem system;
  IoTracker tracker;
  std::vector<ProcessSample> samples;
  const auto childActivity = [&](std::uint64_t now) -> std::optional<ProcessActivity> {
    system.readSnapshot(samples);
    for (const ProcessActivity& a : tracker.update(samples, now))
      if (a.pid == static_cast<std::uint32_t>(child)) return a;
    return std::nullopt;
  };
  ASSERT_TRUE(childActivity(1000).has_value());
  char byte = 1;
  ASSERT_EQ(::write(go[1], &byte, 1), 1);
  ASSERT_EQ(::read(done[0], &byte, 1), 1);
  const auto after = childActivity(2000);
  ASSERT_TRUE(after.has_value());
  EXPECT_GE(after->counters.writeBytes, 4u << 20);
  EXPECT_GE(after->counters.writeOps, 64u);
  EXPECT_EQ(after->name, u"proc_tests");
  ::close(go[1]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(childActivity(3000).has_value());
  EXPECT_EQ(toUtf8(system.imagePath(static_cast<std::uint32_t>(::getpid()))), fs::read_symlink("/proc/self/exe").string());
  for (int fd : {go[0], done[0], done[1]}) ::close(fd);
}

// Another user's processes: listed with their names, without counters, and the snapshot
// still holds one's own.
TEST(ProcSystemLive, ListsOtherUsersProcessesWithoutCounters) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  const auto parent = static_cast<std::uint32_t>(::getpid());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    ::prctl(PR_SET_DUMPABLE, 1);  // as a process started by that user would be: its files its own
    ProcSystem system;
    std::vector<ProcessSample> samples;
    system.readSnapshot(samples);
    const auto find = [&samples](std::uint32_t pid) {
      return std::find_if(samples.begin(), samples.end(), [pid](const ProcessSample& s) { return s.pid == pid; });
    };
    const auto other = find(parent);
    const auto self = find(static_cast<std::uint32_t>(::getpid()));
    if (other == samples.end()) ::_exit(11);
    if (other->name != u"proc_tests" || other->counters != IoCounters{}) ::_exit(12);
    if (self == samples.end() || self->counters.readBytes == 0) ::_exit(13);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not change user, 11: parent not listed, 12: parent with counters, "
                                       "13: own counters missing";
}

}  // namespace
}  // namespace tessivo
