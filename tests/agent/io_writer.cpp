// A process of known I/O for the agent's end-to-end tests: idle long enough to be listed
// and scraped at zero, then writes exactly BYTES to PATH, then idle again before it exits,
// so every byte is seen on the writer itself and none is left to its parent at exit. With a
// fourth argument the bytes are spread evenly over that many seconds, in 1 MiB writes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/live_process.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  const auto pause = std::chrono::milliseconds(std::atoi(argv[3]));
  std::this_thread::sleep_for(pause);
  const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  const std::uint64_t bytes = std::strtoull(argv[1], nullptr, 10);
  const std::uint64_t chunks = argc == 5 ? std::max<std::uint64_t>(1, bytes >> 20) : 1;
  const auto start = std::chrono::steady_clock::now();
  const auto spread = std::chrono::duration<double>(argc == 5 ? std::atof(argv[4]) : 0.0);
  for (std::uint64_t i = 0, done = 0; i < chunks; ++i) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(spread * (double(i) / double(chunks))));
    const std::uint64_t next = bytes * (i + 1) / chunks;
    // The file stays small: each chunk overwrites the same place.
    if (::lseek(fd, 0, SEEK_SET) != 0 || !tessivo::testing::writeBytes(fd, next - done)) return 1;
    done = next;
  }
  ::close(fd);
  std::this_thread::sleep_for(pause);
  return 0;
}
