// A process of known I/O for the agent's end-to-end tests: idle long enough to be listed
// and scraped at zero, then writes exactly BYTES to PATH, then idle again before it exits,
// so every byte is seen on the writer itself and none is left to its parent at exit.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const long long bytes = std::atoll(argv[1]);
  const auto pause = std::chrono::milliseconds(std::atoi(argv[3]));
  std::this_thread::sleep_for(pause);
  const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  std::vector<char> chunk(64 * 1024, 'x');
  for (long long left = bytes; left > 0;) {
    const ssize_t n = ::write(fd, chunk.data(), static_cast<size_t>(left < 65536 ? left : 65536));
    if (n <= 0) return 1;
    left -= n;
  }
  ::close(fd);
  std::this_thread::sleep_for(pause);
  return 0;
}
