// A process of known I/O for the agent's end-to-end tests: idle long enough to be listed
// and scraped at zero, then writes exactly BYTES to PATH, then idle again before it exits,
// so every byte is seen on the writer itself and none is left to its parent at exit.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/live_process.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const auto pause = std::chrono::milliseconds(std::atoi(argv[3]));
  std::this_thread::sleep_for(pause);
  const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || !tessivo::testing::writeBytes(fd, std::strtoull(argv[1], nullptr, 10))) return 1;
  ::close(fd);
  std::this_thread::sleep_for(pause);
  return 0;
}
