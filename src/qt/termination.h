// SIGTERM, SIGINT and SIGHUP as a polite close: a session that ends, `kill` or Ctrl+C in the
// terminal close the window the way its close button does, so the program ends with code 0.
#pragma once

#include <QtCore/QObject>

#include <functional>

class QSocketNotifier;

namespace tessivo {

class QtTermination final : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; `close` runs in the event loop, never in the signal handler.
  explicit QtTermination(std::function<void()> close, QObject* parent = nullptr);
  ~QtTermination() override;
  QtTermination(const QtTermination&) = delete;
  QtTermination& operator=(const QtTermination&) = delete;

 private:
  std::function<void()> close_;
  QSocketNotifier* notifier_ = nullptr;
  int readFd_ = -1, writeFd_ = -1;
};

}  // namespace tessivo
