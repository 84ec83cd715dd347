// An owned file descriptor: closed when the owner goes, movable, never copied.
#pragma once

#include <unistd.h>

#include <utility>

namespace tessivo {

class ProcDescriptor {
 public:
  ProcDescriptor() = default;
  explicit ProcDescriptor(int fd) : fd_(fd) {}
  ~ProcDescriptor() { reset(); }
  ProcDescriptor(ProcDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ProcDescriptor& operator=(ProcDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ProcDescriptor(const ProcDescriptor&) = delete;
  ProcDescriptor& operator=(const ProcDescriptor&) = delete;

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  void reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace tessivo
