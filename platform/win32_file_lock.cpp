#include <windows.h>

#include <cerrno>

#include "platform/file_open.h"

namespace gpsfw::platform {

// Windows tells no holder of a lock: the other run is named without its PID (0).
bool LockForWriting(int fd, long* holder) {
  const intptr_t handle = ::_get_osfhandle(fd);
  if (handle == -1) {
    errno = EBADF;
    return false;
  }
  OVERLAPPED whole = {};
  if (::LockFileEx(reinterpret_cast<HANDLE>(handle),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
    return true;
  }
  if (::GetLastError() != ERROR_LOCK_VIOLATION) {
    errno = EACCES;
    return false;
  }
  *holder = 0;
  errno = EAGAIN;
  return false;
}

}  // namespace gpsfw::platform
