// Idle child processes (TESSIVO_BENCH_IDLE of them, 1000 unless set) for the length of one
// benchmark, so /proc holds a machine's worth of processes; they die with the benchmark if
// it is killed.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tessivo::bench {

class IdleChildren {
 public:
  IdleChildren() {
    const char* count = std::getenv("TESSIVO_BENCH_IDLE");
    const int wanted = count != nullptr ? std::atoi(count) : 1000;
    const pid_t parent = ::getpid();
    for (int i = 0; i < wanted; ++i) {
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
  ~IdleChildren() {
    for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
  }
  IdleChildren(const IdleChildren&) = delete;
  IdleChildren& operator=(const IdleChildren&) = delete;

 private:
  std::vector<pid_t> pids_;
};

}  // namespace tessivo::bench
