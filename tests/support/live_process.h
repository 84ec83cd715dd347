// Real processes for the live tests and the benchmarks: a forked child running a body, a
// one-byte gate between processes, a crowd of idle processes, a writer of exactly N bytes,
// and what the kernel itself says a process wrote.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "procfs/proc_parse.h"

namespace tessivo::testing {

// A forked child running `body` (its return value the exit code), killed with its parent
// and killed and reaped with its holder unless it was reaped already (pid then -1).
struct Child {
  pid_t pid = ::fork();
  template <typename F>
  explicit Child(F body) {
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::_exit(body());
    }
  }
  ~Child() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
};

// One byte through a pipe: a child's signal that it is where it should be, or a gate it
// waits at. wait() answers '\0' when the pipe fails or is closed.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { (void)::pipe2(fd, O_CLOEXEC); }
  ~Pipe() { ::close(fd[0]), ::close(fd[1]); }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  char wait() const {
    char byte = 0;
    return ::read(fd[0], &byte, 1) == 1 ? byte : '\0';
  }
  bool post(char byte = 'x') const { return ::write(fd[1], &byte, 1) == 1; }
};

// Idle children for the holder's lifetime, so /proc holds a machine's worth of processes;
// they die with the holder's process if it is killed.
class IdleChildren {
 public:
  explicit IdleChildren(int count) {
    const pid_t parent = ::getpid();
    for (int i = 0; i < count; ++i) {
      const pid_t child = ::fork();
      if (child < 0) break;
      if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(0);
        for (;;) ::pause();
      }
      pids_.push_back(child);
    }
  }
  // TESSIVO_BENCH_IDLE of them, 1000 unless set: the benchmarks' crowd.
  IdleChildren() : IdleChildren(benchCrowd()) {}
  ~IdleChildren() {
    for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
  }
  IdleChildren(const IdleChildren&) = delete;
  IdleChildren& operator=(const IdleChildren&) = delete;

 private:
  static int benchCrowd() {
    const char* count = std::getenv("TESSIVO_BENCH_IDLE");
    return count != nullptr ? std::atoi(count) : 1000;
  }
  std::vector<pid_t> pids_;
};

// Writes exactly `bytes` to fd in blocks of 64 KiB (the last one shorter); false on a
// failed or short write.
inline bool writeBytes(int fd, std::uint64_t bytes) {
  static const std::array<char, 64 * 1024> block{};
  for (std::uint64_t left = bytes; left > 0;) {
    const std::size_t size = left < block.size() ? static_cast<std::size_t>(left) : block.size();
    if (::write(fd, block.data(), size) != static_cast<ssize_t>(size)) return false;
    left -= size;
  }
  return true;
}

// The kernel's own counters of a process (empty when they cannot be read).
inline ProcIo kernelIo(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/io");
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  return parseProcIo(text).value_or(ProcIo{});
}

}  // namespace tessivo::testing
