#include "platform/win32/win32_posix.h"

#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  const unsigned int chunk = size < 0x7FFFFFFF ? static_cast<unsigned int>(size) : 0x7FFFFFFF;
  return ::_read(fd, buffer, chunk);
}

int fcntl(int fd, int command, ...) {
  if (::_get_osfhandle(fd) == -1) {
    errno = EBADF;
    return -1;
  }
  return command == F_GETFL || command == F_SETFL ? 0 : -1;
}

int mkostemp(char* pattern, int flags) {
  if (::_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return -1;
  return ::_open(pattern, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | flags, _S_IREAD | _S_IWRITE);
}
