#include "platform/file_replace.h"

#include <fcntl.h>

#include <cstdio>

namespace gpsfw::platform {

int OpenReadingReplaceable(const char* path) {
  return ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

bool RenameReplacing(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

}  // namespace gpsfw::platform
