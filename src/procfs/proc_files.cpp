#include "procfs/proc_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "procfs/own_io.h"
#include "procfs/proc_io_math.h"

namespace tessivo {

namespace {

// Descriptors left to the rest of the program however many processes there are.
constexpr std::size_t kReservedDescriptors = 128;

// What reading one new process holds open at once: its directory, stat and io files.
constexpr std::size_t kPerProcess = 3;

}  // namespace

void ProcFiles::beginSnapshot(std::uint32_t selfPid, bool realProc) {
  selfPid_ = selfPid;
  realProc_ = realProc;
}

void ProcFiles::updateKeepLimit() {
  rlimit limit{};
  std::uint64_t soft = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) soft = limit.rlim_cur;
  softLimit_ = soft;
  keepLimit_ = soft > kReservedDescriptors ? static_cast<std::size_t>(soft - kReservedDescriptors) : 0;
  if (soft != capSoftLimit_) keepCap_ = SIZE_MAX;  // a new limit: learn again
  keepLimit_ = std::min(keepLimit_, keepCap_);
}

int ProcFiles::open(int at, const char* leaf, int flags) {
  const int fd = ::openat(at, leaf, O_RDONLY | O_CLOEXEC | flags);
  if (fd >= 0) return fd;
  const int error = errno;
  if (error == EMFILE || error == ENFILE) {
    keepLimit_ = 0;
    keepCap_ = kept_ > kPerProcess ? kept_ - kPerProcess : 0;
    rlimit limit{};
    capSoftLimit_ = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 0;
  }
  return -error;
}

void ProcFiles::keepOrClose(ProcDescriptor&& fd, ProcDescriptor& slot) {
  if (fd && kept_ < keepLimit_) {
    slot = std::move(fd);
    ++kept_;
  }
}

void ProcFiles::release(ProcDescriptor& fd) {
  if (fd) {
    fd.reset();
    --kept_;
  }
}

// Every call counts as this process's own monitoring read, as the kernel counts it.
std::string_view ProcFiles::read(int fd) {
  for (;;) {
    const ssize_t n = ::pread(fd, text_.data(), text_.size() - 1, 0);
    own_io::countRead(n);
    if (n >= 0) return {text_.data(), static_cast<std::size_t>(n)};
    if (errno != EINTR) return {};
  }
}

// The kernel's answer holds every read before this one, not this one.
std::optional<ProcIo> ProcFiles::readIo(int fd, std::uint32_t pid) {
  using procio::operator-;
  const bool self = realProc_ && pid == selfPid_;
  const ProcIo before = self ? own_io::totals() : ProcIo{};
  std::optional<ProcIo> io = parseProcIo(read(fd));
  if (io && self) *io = *io - before;
  return io;
}

bool ProcFiles::descriptorsOut(int error) { return error == -EMFILE || error == -ENFILE; }

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
