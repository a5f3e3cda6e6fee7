#include "platform/posix/tty_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace gpsfw::platform {

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

bool MeansGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

long ReadAvailable(int fd, uint8_t* buffer, size_t size, bool* gone) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n > 0) return n;
    if (n == 0) {
      *gone = true;
      return -1;
    }
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) return 0;
    *gone = MeansGone(errno);
    return -1;
  }
}

UniqueFd OpenExclusive(const char* device, termios* original) {
  // O_NONBLOCK keeps the open from waiting for carrier; it stays on, as every wait is a
  // poll() with its own time-out.
  UniqueFd fd(::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid() || !::isatty(fd.Get())) return UniqueFd();
  if (::tcgetattr(fd.Get(), original) != 0) return UniqueFd();
  // flock() keeps out a second loader even where TIOCEXCL does not (root ignores it).
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return UniqueFd();
  if (::ioctl(fd.Get(), TIOCEXCL) != 0) return UniqueFd();
  return fd;
}

uint64_t DeviceNumber(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_rdev) : 0;
}

}  // namespace gpsfw::platform
