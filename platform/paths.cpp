// Placeholder until the path mapping lands.
#include "platform/paths.h"

#include <cstdio>

namespace gpsfw::platform {

bool DevicePathForPort(const char* portName, char* out, size_t capacity) {
  return std::snprintf(out, capacity, "%s", portName) < static_cast<int>(capacity);
}
void ModuleFileName(char* out, size_t capacity) {
  if (capacity > 0) out[0] = '\0';
}
void OverrideModuleFileName(const char*) {}
void TempDirectory(char* out, size_t capacity) { std::snprintf(out, capacity, "/tmp/"); }

}  // namespace gpsfw::platform
