#include "procfs/proc_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

#include "procfs/own_io.h"
#include "procfs/proc_io_math.h"

namespace tessivo {

namespace {

// Descriptors left to the rest of the program however many processes there are.
constexpr std::size_t kReservedDescriptors = 128;

}  // namespace

void ProcFiles::beginSnapshot(std::uint32_t selfPid, bool realProc) {
  selfPid_ = selfPid;
  realProc_ = realProc;
}

void ProcFiles::updateKeepLimit() {
  rlimit limit{};
  std::uint64_t soft = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) soft = limit.rlim_cur;
  keepLimit_ = soft > kReservedDescriptors ? static_cast<std::size_t>(soft - kReservedDescriptors) : 0;
}

int ProcFiles::open(int at, const char* leaf, int flags) {
  const int fd = ::openat(at, leaf, O_RDONLY | O_CLOEXEC | flags);
  if (fd >= 0) return fd;
  const int error = errno;
  if (error == EMFILE || error == ENFILE) keepLimit_ = kept_;  // keep no more this snapshot
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
