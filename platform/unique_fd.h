#pragma once

#include <unistd.h>

namespace gpsfw::platform {

// Owns one file descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }

  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

  // Gives up ownership without closing.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // Closes now and tells whether the close succeeded: a write to a file may fail only here.
  bool Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
  }

  void Reset(int fd = -1) {
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace gpsfw::platform
