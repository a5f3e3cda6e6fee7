#include "platform/win32_posix.h"

#include <cstdio>

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  const unsigned int chunk = size < 0x7FFFFFFF ? static_cast<unsigned int>(size) : 0x7FFFFFFF;
  return ::_read(fd, buffer, chunk);
}
