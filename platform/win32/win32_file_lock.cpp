#include <windows.h>

#include <cerrno>

#include "platform/file_open.h"

namespace gpsfw::platform {

namespace {

// Windows' locks are mandatory: a lock on the file's bytes would keep every reader (a person
// looking at the log of a running update) out. The lock is taken on one byte far beyond any
// log's end instead, which only another run asks for.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

}  // namespace

// Windows tells no holder of a lock: the other run is named without its PID (0).
bool LockForWriting(int fd, long* holder) {
  const intptr_t handle = ::_get_osfhandle(fd);
  if (handle == -1) {
    errno = EBADF;
    return false;
  }
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (::LockFileEx(reinterpret_cast<HANDLE>(handle),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
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
