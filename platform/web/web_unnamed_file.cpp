#include <cerrno>

#include "platform/unnamed_file.h"

namespace gpsfw::platform {

// A page's temporary folder is in the page's own memory and always takes the SFLD copy: there
// is no second place to go.
int OpenUnnamedFile(const char* /*label*/) {
  errno = ENOSYS;
  return -1;
}

}  // namespace gpsfw::platform
