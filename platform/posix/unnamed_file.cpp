#include "platform/unnamed_file.h"

#include <sys/mman.h>

namespace gpsfw::platform {

// Kept in memory, which no missing, full or read-only folder can refuse.
int OpenUnnamedFile(const char* label) {
  return ::memfd_create(label, MFD_CLOEXEC);
}

}  // namespace gpsfw::platform
