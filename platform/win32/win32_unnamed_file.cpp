#include <cerrno>

#include "platform/unnamed_file.h"

namespace gpsfw::platform {

// The temporary folder on Windows is the user's own (GetTempPath); a copy beside it has no
// second place to go.
int OpenUnnamedFile(const char* /*label*/) {
  errno = ENOSYS;
  return -1;
}

}  // namespace gpsfw::platform
