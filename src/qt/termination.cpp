#include "qt/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QtCore/QSocketNotifier>

#include <array>
#include <cerrno>
#include <utility>

namespace tessivo {

namespace {

// The write end of the pipe the handler wakes the event loop through: the one global of the
// program, since a signal handler can safely reach nothing else.
volatile sig_atomic_t wakeFd = -1;

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  if (wakeFd >= 0) [[maybe_unused]] const ssize_t n = ::write(wakeFd, &byte, 1);
  errno = saved;
}

}  // namespace

QtTermination::QtTermination(std::function<void()> close, QObject* parent)
    : QObject(parent), close_(std::move(close)) {
  int fds[2];
  if (wakeFd >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // one at a time
  readFd_ = fds[0];
  writeFd_ = fds[1];
  wakeFd = writeFd_;
  notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    std::array<char, 16> drain{};
    while (::read(readFd_, drain.data(), drain.size()) > 0) {
    }
    if (close_) close_();
  });
  struct sigaction action{};
  action.sa_handler = &onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

QtTermination::~QtTermination() {
  if (notifier_ == nullptr) return;
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
  wakeFd = -1;
  ::close(readFd_);
  ::close(writeFd_);
}

}  // namespace tessivo
