#include "platform/posix/sysfs_files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/port_name.h"
#include "platform/unique_fd.h"

namespace gpsfw::platform {

bool JoinPath(char* out, size_t capacity, const char* folder, const char* name) {
  const int written = std::snprintf(out, capacity, "%s/%s", folder, name);
  if (written >= 0 && static_cast<size_t>(written) < capacity) return true;
  if (capacity > 0) out[0] = '\0';
  return false;
}

bool ReadAttribute(const char* path, char* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = '\0';
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) return false;
  size_t got = 0;
  while (got < capacity) {
    const ssize_t n = ::read(fd.Get(), out + got, capacity - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == capacity) {
    out[0] = '\0';
    return false;
  }
  while (got > 0 && (out[got - 1] == '\n' || out[got - 1] == ' ' || out[got - 1] == '\r')) --got;
  out[got] = '\0';
  return true;
}

bool ReadNumberAttribute(const char* path, int base, long* value) {
  char text[32];
  if (!ReadAttribute(path, text, sizeof text) || text[0] == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, base);
  if (errno != 0 || *end != '\0') return false;
  *value = number;
  return true;
}

bool ResolvePath(const char* path, char* out, size_t capacity) {
  char resolved[PATH_MAX];
  if (::realpath(path, resolved) == nullptr) return false;
  return CopyFitting(out, capacity, resolved);
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

bool PathExists(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0;
}

}  // namespace gpsfw::platform
