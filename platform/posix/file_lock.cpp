#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_open.h"

namespace gpsfw::platform {

// A record lock rather than flock(): F_GETLK tells which process holds it, so that the
// message can name the other run.
bool LockForWriting(int fd, long* holder) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &lock) == 0) return true;
  const int error = errno;
  if (error != EAGAIN && error != EACCES) return false;
  struct flock other = {};
  other.l_type = F_WRLCK;
  other.l_whence = SEEK_SET;
  const bool known = ::fcntl(fd, F_GETLK, &other) == 0 && other.l_type != F_UNLCK;
  *holder = known ? static_cast<long>(other.l_pid) : 0;
  errno = EAGAIN;
  return false;
}

}  // namespace gpsfw::platform
