#include "linux/proc_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "linux/proc_descriptor.h"
#include "linux/proc_parse.h"

namespace tessivo {

namespace {

// Descriptors left to the rest of the program however many processes there are.
constexpr std::size_t kReservedDescriptors = 128;

// A known process's name is read again every this many snapshots (staggered by pid).
constexpr std::uint64_t kNameRefresh = 8;

// "<pid>/<leaf>", terminated, in a fixed buffer: no allocation per file.
class PidPath {
 public:
  PidPath(std::uint32_t pid, std::string_view leaf) {
    char* end = std::to_chars(text_.data(), text_.data() + 10, pid).ptr;
    *end++ = '/';
    std::memcpy(end, leaf.data(), leaf.size());
    end[leaf.size()] = '\0';
  }
  const char* c_str() const { return text_.data(); }

 private:
  std::array<char, 24> text_{};
};

}  // namespace

struct ProcSystem::Impl {
  struct Entry {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
    std::u16string name;
    ProcDescriptor comm;
    ProcDescriptor io;
    bool ioUnreadable = false;  // this process's counters cannot be read; not asked again
  };

  explicit Impl(std::string root) : procRoot(std::move(root)) {}

  std::string procRoot;
  ProcDescriptor dir;
  std::vector<Entry> entries;  // by pid, ascending
  std::vector<Entry> nextEntries;
  std::vector<std::uint32_t> pids;
  std::vector<ProcCounters> counters;  // index-aligned with the latest snapshot
  std::size_t kept = 0;
  std::size_t keepLimit = 0;
  std::uint64_t snapshots = 0;
  alignas(8) std::array<char, 32 * 1024> dirBuffer{};
  std::array<char, 4096> text{};

  bool openRoot() {
    if (!dir) dir = ProcDescriptor(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return static_cast<bool>(dir);
  }

  // The process identifiers listed now, ascending; false when the directory cannot be read.
  bool listPids() {
    pids.clear();
    if (!openRoot() || ::lseek(dir.get(), 0, SEEK_SET) != 0) return false;
    for (;;) {
      const ssize_t n = ::getdents64(dir.get(), dirBuffer.data(), dirBuffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        dir.reset();  // reopened at the next snapshot
        return false;
      }
      if (n == 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(dirBuffer.data() + at);
        at += entry->d_reclen;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
        const std::uint32_t pid = parsePidName(entry->d_name);
        if (pid != 0) pids.push_back(pid);
      }
    }
    // The kernel lists processes in ascending order; other trees need not.
    if (!std::is_sorted(pids.begin(), pids.end())) std::sort(pids.begin(), pids.end());
    return true;
  }

  void updateKeepLimit() {
    rlimit limit{};
    std::uint64_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) soft = limit.rlim_cur;
    keepLimit = soft > kReservedDescriptors ? static_cast<std::size_t>(soft - kReservedDescriptors) : 0;
  }

  void release(ProcDescriptor& fd) {
    if (fd) {
      fd.reset();
      --kept;
    }
  }

  void drop(Entry& entry) {
    release(entry.comm);
    release(entry.io);
  }

  // Bytes read into text from offset 0, or -errno.
  ssize_t readAt(int fd) {
    for (;;) {
      const ssize_t n = ::pread(fd, text.data(), text.size() - 1, 0);
      if (n >= 0) return n;
      if (errno != EINTR) return -errno;
    }
  }

  // Opens <pid>/<leaf>: the descriptor, or -errno.
  int openFile(std::uint32_t pid, std::string_view leaf) {
    const int fd = ::openat(dir.get(), PidPath(pid, leaf).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
    const int error = errno;
    if (error == EMFILE || error == ENFILE) keepLimit = kept;  // keep no more this snapshot
    return -error;
  }

  // Keeps fd in slot while descriptors last, else closes it.
  void keepOrClose(ProcDescriptor&& fd, ProcDescriptor& slot) {
    if (fd && kept < keepLimit) {
      slot = std::move(fd);
      ++kept;
    }
  }

  // Reads <pid>/<leaf> through a new descriptor, which `slot` (when given) keeps while
  // descriptors last. Bytes read, or -errno.
  ssize_t readFresh(std::uint32_t pid, std::string_view leaf, ProcDescriptor* slot) {
    const int opened = openFile(pid, leaf);
    if (opened < 0) return opened;
    ProcDescriptor fd(opened);
    const ssize_t n = readAt(fd.get());
    if (n > 0 && slot != nullptr) keepOrClose(std::move(fd), *slot);
    return n;
  }

  std::string_view textOf(ssize_t n) const { return {text.data(), n > 0 ? static_cast<std::size_t>(n) : 0}; }

  bool descriptorsOut(ssize_t n) const { return n == -EMFILE || n == -ENFILE; }

  // Fills `sample` for one listed process; false when it is not to be listed (it exited,
  // or no descriptor was left to read it).
  //
  // A known process costs one read per snapshot, its io file through a kept descriptor;
  // its comm file (the name, which changes on exec) is read every kNameRefresh snapshots.
  // A kept descriptor fails once its process is gone, even when the pid is already
  // someone else's: the process is then read as a new one, from its stat file, whose start
  // time tells which it is. Without a working io descriptor the comm file is read every
  // time, for the same reason.
  bool sampleOne(Entry& entry, bool known, bool nameDue, ProcByteSource source, ProcessSample& sample,
                 ProcCounters& both) {
    bool fresh = !known;
    bool keptFailed = false;
    std::optional<ProcIo> io;
    if (!fresh && entry.io) {
      io = parseProcIo(textOf(readAt(entry.io.get())));
      if (!io) keptFailed = true;
    }
    if (!keptFailed && !fresh && (nameDue || !io)) {
      if (entry.comm) {
        ssize_t n = readAt(entry.comm.get());
        if (n > 0) {
          if (text[static_cast<std::size_t>(n) - 1] == '\n') --n;
          assignUtf8(textOf(n), entry.name);
        } else {
          keptFailed = true;
        }
      } else {
        fresh = true;  // nothing kept to ask: as a new process, at every snapshot
      }
    }
    if (fresh || keptFailed) {
      const std::optional<ProcStat> stat = parseProcStat(textOf(readFresh(entry.pid, "stat", nullptr)));
      if (!stat) return false;
      if (keptFailed || !known || stat->startTime != entry.startTime) {
        release(entry.comm);
        release(entry.io);
        io.reset();
        entry.ioUnreadable = false;
        entry.startTime = stat->startTime;
      }
      assignUtf8(stat->comm, entry.name);  // before text is reused
      if (!entry.comm && kept < keepLimit) {
        const int fd = openFile(entry.pid, "comm");
        if (fd >= 0) keepOrClose(ProcDescriptor(fd), entry.comm);
      }
    }

    if (!io && !entry.ioUnreadable) {
      const ssize_t n = readFresh(entry.pid, "io", &entry.io);
      // Zeros now would read as a drop and then a burst: better absent for one snapshot.
      if (descriptorsOut(n)) return false;
      io = parseProcIo(textOf(n));
      if (!io) {
        // Gone since it was listed: not listed.
        if ((n == -ENOENT || n == -ESRCH) && ::faccessat(dir.get(), PidPath(entry.pid, "").c_str(), F_OK, 0) != 0)
          return false;
        // Another user's process, or counters the kernel does not offer: listed with zeros.
        entry.ioUnreadable = true;
      }
    }
    const ProcIo raw = io.value_or(ProcIo{});
    both.allIo = IoCounters{raw.syscr, raw.syscw, 0, raw.rchar, raw.wchar, 0};
    both.diskOnly = IoCounters{raw.syscr, raw.syscw, 0, raw.readBytes, raw.writeBytes, 0};
    sample.pid = entry.pid;
    sample.name.assign(entry.name);
    sample.createTime = entry.startTime;
    sample.counters = source == ProcByteSource::DiskOnly ? both.diskOnly : both.allIo;
    return true;
  }

  void snapshot(ProcByteSource source, std::vector<ProcessSample>& out) {
    if (!listPids()) {
      for (Entry& entry : entries) drop(entry);
      entries.clear();
      out.clear();
      counters.clear();
      return;
    }
    updateKeepLimit();
    nextEntries.clear();
    std::size_t count = 0;
    std::size_t old = 0;
    for (const std::uint32_t pid : pids) {
      while (old < entries.size() && entries[old].pid < pid) drop(entries[old++]);
      const bool known = old < entries.size() && entries[old].pid == pid;
      Entry entry = known ? std::move(entries[old++]) : Entry{};
      entry.pid = pid;
      if (count == out.size()) out.emplace_back();
      if (count == counters.size()) counters.emplace_back();
      const bool nameDue = (snapshots + pid) % kNameRefresh == 0;
      if (sampleOne(entry, known, nameDue, source, out[count], counters[count])) {
        ++count;
        nextEntries.push_back(std::move(entry));
      } else {
        drop(entry);
      }
    }
    while (old < entries.size()) drop(entries[old++]);
    std::swap(entries, nextEntries);
    nextEntries.clear();
    out.resize(count);
    counters.resize(count);
    ++snapshots;
  }
};

ProcSystem::ProcSystem(std::string procRoot)
    : procRoot_(std::move(procRoot)), impl_(std::make_unique<Impl>(procRoot_)) {}

ProcSystem::~ProcSystem() = default;

void ProcSystem::readSnapshot(std::vector<ProcessSample>& out) { impl_->snapshot(byteSource_, out); }

std::u16string ProcSystem::imagePath(std::uint32_t pid) {
  if (!impl_->openRoot()) return {};
  std::array<char, 4096> target{};
  const ssize_t n = ::readlinkat(impl_->dir.get(), PidPath(pid, "exe").c_str(), target.data(), target.size());
  // A target that fills the buffer may have been cut short: no path rather than a wrong one.
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
  std::u16string path;
  assignUtf8(withoutDeletedSuffix({target.data(), static_cast<std::size_t>(n)}), path);
  return path;
}

std::uint64_t ProcSystem::nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

const std::vector<ProcCounters>& ProcSystem::lastCounters() const { return impl_->counters; }

std::size_t ProcSystem::keptDescriptors() const { return impl_->kept; }

std::uint64_t raiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<std::uint64_t>::max() : limit.rlim_cur;
}

}  // namespace tessivo
