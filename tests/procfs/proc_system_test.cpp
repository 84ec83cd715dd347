#include "procfs/proc_system.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/text.h"
#include "procfs/proc_parse.h"
#include "support/live_process.h"
#include "support/proc_tree.h"

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using testing::Child;
using testing::Pipe;
using testing::ProcTree;
using testing::writeFile;

// Parser cases the look-alike tree below does not reach.
TEST(ProcParse, PidNamesNamesAndLinks) {
  EXPECT_EQ(parsePidName("4294967295"), 4294967295u);
  for (std::string_view other : {"", "0", "01", "4294967296", "12a", "self"}) EXPECT_EQ(parsePidName(other), 0u) << other;
  EXPECT_FALSE(parseProcStat("12 (short) S 1 2 3").has_value());  // cut before the start time
  EXPECT_FALSE(parseProcIo("cancelled_write_bytes: 4\nnoise").has_value());
  EXPECT_EQ(parseLastPid("0.52 0.58 0.59 2/1080 4194304\n"), 4194304u);
  for (std::string_view other : {"0.52 0.58 0.59 2/1080", "0.52 0.58 0.59 2/1080 12x", "1 2 3 4 5", "4294967296 1/2 4294967296"})
    EXPECT_FALSE(parseLastPid(other).has_value()) << other;
  const auto stat = parseProcStat("9 (a) b) S 77 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 42 0 0 0 4096 8192 0");
  EXPECT_EQ(std::tuple(stat->ppid, stat->startTime, stat->startCode, stat->endCode, stat->kernelThread),
            std::tuple(77u, 42u, 4096u, 8192u, false));
  const auto kernel = parseProcStat("9 (a) S 77 2 3 4 5 2097216 7 8 9 10 11 12 13 14 15 16 17 18 42");  // PF_KTHREAD
  EXPECT_EQ(std::tuple(kernel->startCode, kernel->kernelThread), std::tuple(0u, true));
  for (auto [mask, ignored] : {std::pair{"0000000000010000", true}, {"0000000000000000", false}, {"fffffffffffeffff", false}})
    EXPECT_EQ(ignoresSignal(std::string("Name:\tx\nSigIgn:\t") + mask + "\nSigCgt:\tffffffffffffffff\n", 17), ignored);

  std::u16string name = u"a previous, longer name";
  const char16_t* storage = name.data();
  assignUtf8("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", name);
  EXPECT_EQ(name, u"café 中 😀");
  EXPECT_EQ(name.data(), storage);  // reused, not reallocated
  assignUtf8("a\xFF" "b\xE4\xB8" "c\xC0\xAF", name);  // stray, cut short, overlong
  EXPECT_EQ(name, u"a\uFFFDb\uFFFD\uFFFDc\uFFFD");
  assignName("a\nb\x7F\xC2\x85\t\x1F \xC2\x9F\xC2\xA0", name);  // shown on one line
  EXPECT_EQ(name, u"a\u240Ab\u2421\uFFFD\u2409\u241F \uFFFD\u00A0");

  EXPECT_EQ(withoutDeletedSuffix("/usr/bin/app (deleted)"), "/usr/bin/app");
  EXPECT_EQ(withoutDeletedSuffix(" (deleted)"), " (deleted)");
}

// "pid name createTime readOps writeOps readBytes writeBytes" of every sample.
std::vector<std::string> snapshot(ProcSystem& system) {
  std::vector<ProcessSample> samples;
  system.readSnapshot(samples);
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
  process(30, "a) S (b", 18446744073709551615ull, 1000);  // the name ends at the last ")"
  process(11, "x", 2, 0);
  // Lines missing, out of order, unknown, empty, or too large for 64 bits (left out, not saturated).
  writeFile(root / "11" / "io", "write_bytes: 9\nrchar: 99999999999999999999999\nnew_field: 5\nsyscw:\n");
  process(7, "daemon", 40, 10, 4096, 0, 0x00200000);  // a kernel thread
  fs::remove(root / "7" / "io");  // counters not offered: listed with zeros
  process(9, "odd", 42, 0);
  fs::remove(root / "9" / "io");
  fs::create_directory(root / "9" / "io");  // counters that fail to read: the same
  process(12, "gone", 41, 20);
  fs::remove(root / "12" / "stat");  // exited between the listing and the read
  process(13, "cut", 43, 20);
  writeFile(root / "13" / "stat", "13 (cut) S 1 2 3\n");
  fs::create_directory(root / "self");
  fs::create_directory(root / "0012");
  writeFile(root / "44", "a file, not a process");

  ProcSystem system(root.string());
  const std::vector<std::string> all = {"7 daemon 40 0 0 0 0", "9 odd 42 0 0 0 0", "11 x 2 0 0 0 0",
                                        "30 a) S (b 18446744073709551615 1003 1004 1001 1002"};
  EXPECT_EQ(snapshot(system), all);
  EXPECT_EQ(std::tuple(system.lastCounters()[0].kernelThread, system.lastCounters()[2].kernelThread),
            std::tuple(true, false));
  EXPECT_EQ(snapshot(system), all);         // the same through kept descriptors
  EXPECT_EQ(system.keptDescriptors(), 6u);  // four stat files, two io files
  system.setByteSource(ProcByteSource::DiskOnly);
  EXPECT_EQ(snapshot(system), (std::vector<std::string>{all[0], all[1], "11 x 2 0 0 0 9",
                                                        "30 a) S (b 18446744073709551615 1003 1004 1005 1006"}));

  fs::remove_all(root);
  EXPECT_TRUE(snapshot(system).empty());
  ProcSystem missing((root / "none").string());
  EXPECT_TRUE(snapshot(missing).empty());
}

TEST_F(ProcTree, ExitedReusedAndRenamedProcesses) {
  process(5, "first", 100, 0);
  process(6, "other", 101, 0, 4096, 8);
  process(8, "sh", 102, 0);
  process(3, "a", 1, 0);
  fs::create_symlink("/opt/app/bin/t\xC3\xB6\xC3\xB6l (deleted)", root / "3" / "exe");
  ProcSystem system(root.string());
  const std::vector<std::string> first = snapshot(system);
  ASSERT_EQ(first.size(), 4u);
  EXPECT_TRUE(first[0].starts_with("3 tööl 1 ")) << first[0];  // named after its program's file
  EXPECT_EQ(system.imagePath(3), u"/opt/app/bin/tööl");
  EXPECT_EQ(system.imagePath(5), u"");  // no link: a kernel thread, or not ours to read
  EXPECT_EQ(system.imagePath(2), u"");  // not listed: no neighbour's path

  fs::remove_all(root / "3");
  exitProcess(6);
  exitProcess(5);
  process(5, "second", 900, 5000);  // the pid taken by a new process
  process(8, "make", 102, 0);  // an exec: same process, a new name soon
  // 6 was reaped elsewhere: 8 did not grow, so nothing of 6's is taken off it, now or later.
  EXPECT_EQ(snapshot(system), (std::vector<std::string>{"5 second 900 5003 5004 5001 5002", "8 sh 102 3 4 1 2"}));
  EXPECT_EQ(system.keptDescriptors(), 4u);
  std::vector<ProcessSample> out;
  std::vector<std::uint32_t> generations;  // of pid 8, at each snapshot
  for (int i = 0; i < 24; ++i) {
    if (i == 0) process(7, "job", 103, 0, 4096, 8);
    if (i == 8) {  // an exec of a program of the same name, and 7 reaped by 8: all 8 grew by
      exitProcess(7);
      process(8, "make", 102, 10, 8192);
    }
    system.readSnapshot(out);
    generations.push_back(out.back().imageGeneration);
  }
  EXPECT_EQ(snapshot(system)[1], "8 make 102 10 10 10 10");  // 7's once, 6's not again
  EXPECT_EQ(std::count(generations.begin(), generations.end(), 1u), 8);  // bumped once per exec, counts kept
  EXPECT_EQ(std::tuple(generations.back(), out[0].imageGeneration), std::tuple(2u, 0u));
}

// Departures settled against the parent that reaps them: a child orphaned to a subreaper
// and gone before its stat is read again, and a parent gone with its child (`sh -c cmd`
// ending within one refresh).
TEST_F(ProcTree, OrphansAndWholeFamiliesAreTakenOffTheParentThatReapsThem) {
  for (auto [pid, comm, ppid, each] : {std::tuple{3u, "subreaper", 1u, 1000u}, {5, "parent", 1, 10},
                                       {10, "orphan", 5, 200}, {20, "sh", 3, 30}, {21, "cmd", 20, 4}}) {
    process(pid, comm, pid, 0, 4096, ppid);
    io(pid, each);
  }
  ProcSystem system(root.string());
  snapshot(system);
  exitProcess(5);
  process(10, "orphan", 10, 0, 4096, 3);
  io(10, 200);
  EXPECT_EQ(snapshot(system).size(), 4u);
  for (std::uint32_t pid : {10u, 20u, 21u}) exitProcess(pid);
  io(3, 1000 + 200 + 30 + 4);  // the kernel adds each reaped child's counters once
  EXPECT_EQ(snapshot(system), std::vector<std::string>{"3 subreaper 3 1000 1000 1000 1000"});
}

// While no pid is handed out /proc is not listed again: a process begun since the last
// snapshot, or gone, still shows at the next one, also after a check listing.
TEST(ProcSystemLive, ProcessesBegunOrGoneSinceTheLastSnapshotShowAtTheNext) {
  ProcSystem system;
  std::vector<ProcessSample> samples;
  const auto listed = [&](pid_t pid) {
    system.readSnapshot(samples);
    return std::ranges::count(samples, static_cast<std::uint32_t>(pid), &ProcessSample::pid) == 1;
  };
  for (const int quiet : {2, 40}) {
    for (int i = 0; i < quiet; ++i) system.readSnapshot(samples);
    auto child = std::make_unique<Child>([] {
      for (;;) ::pause();
      return 0;
    });
    const pid_t pid = child->pid;
    EXPECT_TRUE(listed(pid)) << quiet;
    EXPECT_TRUE(listed(pid)) << quiet;
    child.reset();
    EXPECT_FALSE(listed(pid)) << quiet;
  }
}

// Sets the soft descriptor limit for a while and puts the old one back.
struct FileLimit {
  rlimit old{};
  explicit FileLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit changed{soft, old.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &changed);
  }
  ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &old); }
};

TEST_F(ProcTree, ReadsOnWhenDescriptorsRunShort) {
  for (std::uint32_t pid = 100; pid < 120; ++pid) process(pid, "p", pid, pid * 10);
  ProcSystem system(root.string());
  std::vector<ProcessSample> out;
  {
    const FileLimit limit(128 + 7);  // room to keep seven beyond what the program keeps free
    for (int i = 0; i < 2; ++i) {
      system.readSnapshot(out);
      ASSERT_EQ(out.size(), 20u);
      for (const ProcessSample& s : out) EXPECT_EQ(s.counters.writeBytes, s.pid * 10 + 2) << s.pid;
    }
    EXPECT_EQ(system.keptDescriptors(), 7u);  // the fourth process's io file not among them
  }
  {
    // Not one descriptor left (the lowest free one is at the limit): what is kept is still
    // read, and nothing is listed with zeros, not even a process whose name can be read.
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    const FileLimit limit(static_cast<rlim_t>(lowestFree));
    system.readSnapshot(out);
  }
  ASSERT_EQ(out.size(), 3u);
  for (const ProcessSample& s : out) EXPECT_EQ(s.counters.readBytes, s.pid * 10 + 1);
  {
    // Descriptors run out part-way through a first snapshot, the limit leaving more to keep
    // than there are free: every process is listed all the same, with its counters.
    std::vector<int> held;
    for (int i = 0; i < 200; ++i) held.push_back(::dup(0));
    const FileLimit limit(static_cast<rlim_t>(held.back() + 1 + 12));
    ProcSystem first(root.string());
    first.readSnapshot(out);
    for (const int fd : held) ::close(fd);
  }
  ASSERT_EQ(out.size(), 20u);
  for (const ProcessSample& s : out) EXPECT_EQ(s.counters.writeBytes, s.pid * 10 + 2) << s.pid;
}

// Another user's processes are listed with their names and without counters; one's own
// counters are still read.
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
    std::array<char, 100> bytes{};
    const int zero = ::open("/dev/zero", O_RDONLY);
    system.readSnapshot(samples);  // its reads are not its own counters, this one is
    if (::read(zero, bytes.data(), bytes.size()) != 100) ::_exit(14);
    system.readSnapshot(samples);
    int status = 11;
    for (const ProcessSample& s : samples) {
      if (s.pid == parent && (s.name != u"proc_tests" || s.counters != IoCounters{})) ::_exit(12);
      if (s.pid == parent) status -= 11;
      if (s.pid == static_cast<std::uint32_t>(::getpid()) && s.counters != IoCounters{1, 0, 0, 100, 0, 0}) ::_exit(13);
    }
    ::_exit(status);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "10: no user change, 11: parent not listed, 12: parent with counters, 13: own missing";
}

// The real /proc with 300 more (idle) processes: the source's own reads are off this
// process's counters, a real read and declared I/O are not; a writer of 3 MiB under a
// parent that only waits, itself under one that only waits, counts once, and the reaped go.
TEST(ProcSystemLive, CountsEveryByteOnce) {
  const testing::IdleChildren idle(300);
  Pipe ready, gate;
  const auto self = static_cast<std::uint32_t>(::getpid());
  // The family's pids, in memory shared with it: learnt with no I/O, and never confused with
  // another run's processes of the same name.
  auto* family = static_cast<std::uint32_t*>(
      ::mmap(nullptr, 12, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  const auto join = [&](int at) { family[at] = static_cast<std::uint32_t>(::getpid()); };
  Child top([&] {
    join(0);
    Child middle([&] {
      join(1);
      Child writer([&] {
        join(2);
        std::FILE* file = std::tmpfile();
        testing::writeBytes(::fileno(file), 3 << 20);
        ready.post();
        return gate.wait();
      });
      ::waitpid(writer.pid, nullptr, 0);
      ready.post();
      return gate.wait();
    });
    ::waitpid(middle.pid, nullptr, 0);
    ready.post();
    return gate.wait();
  });
  ProcSystem system;
  std::vector<ProcessSample> samples;
  std::map<std::uint32_t, IoCounters> last;  // of every process of this test, as last listed
  const auto take = [&] {
    system.readSnapshot(samples);
    const std::vector<ProcCounters>& both = system.lastCounters();
    for (std::size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(samples[i].counters, both[i].allIo);
      if (samples[i].pid == self || std::count(family, family + 3, samples[i].pid) > 0)
        last[samples[i].pid] = both[i].allIo;
    }
    return last[self];
  };
  const IoCounters before = take();
  ready.wait();
  IoCounters own = take();
  EXPECT_EQ(std::tuple(own.readOps - before.readOps, own.readBytes - before.readBytes), std::tuple(1, 1));
  EXPECT_EQ(std::tuple(samples.size() > 300, last.size()), std::tuple(true, 4));
  std::FILE* file = std::tmpfile();
  ASSERT_EQ(::write(::fileno(file), "abc", 3), 3);
  system.discountOwnIo(0, 0, 3, 1);
  EXPECT_EQ(take(), (IoCounters{own.readOps, own.writeOps, 0, own.readBytes, own.writeBytes, 0}));
  std::fclose(file);
  for (int step = 0; step < 3; ++step) {  // the writer's parent reaps it, then the top one its child, then this test
    gate.post();
    step < 2 ? (void)ready.wait() : (void)::waitpid(std::exchange(top.pid, -1), nullptr, 0);
    take();
  }
  std::uint64_t written = 0;
  for (const auto& [pid, counters] : last) written += pid == self ? counters.writeBytes - own.writeBytes : counters.writeBytes;
  EXPECT_EQ(written, (3u << 20) + 6);  // and one byte each to signal, one each through the gate
  EXPECT_EQ(last[self].writeOps, own.writeOps + 3);
  for (int i = 0; i < 16; ++i) take();  // two more stat reads of every process: no exec seen where none was
  std::size_t listed = 0;  // of the reaped; this process is listed by its name, image and first generation
  for (const ProcessSample& s : samples) listed += s.pid != self && last.count(s.pid);
  const auto me = std::ranges::find(samples, self, &ProcessSample::pid);
  ASSERT_NE(me, samples.end());
  EXPECT_EQ(std::tuple(listed, me->name, toUtf8(system.imagePath(self)), me->imageGeneration),
            std::tuple(0u, u"proc_tests", fs::read_symlink("/proc/self/exe").string(), 0u));
}

}  // namespace
}  // namespace tessivo
