#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/port_name.h"
#include "platform/program_identity.h"
#include "platform/posix/program_search.h"

namespace gpsfw::platform {
namespace {

constexpr const char kDefaultTempDirectory[] = "/tmp/";

const char* DevicePrefix(PortFamily family) {
  return family == PortFamily::kCom ? "/dev/ttyS" : "/dev/gps";
}

void Clear(char* out, size_t capacity) {
  if (capacity > 0) out[0] = '\0';
}

// Linux names the running program in /proc/self/exe; other POSIX hosts, and a Linux
// without /proc mounted (a chroot, an early boot), do not.
constexpr char kSelfLink[] = "/proc/self/exe";

}  // namespace

bool DevicePathForPort(const char* portName, char* out, size_t capacity) {
  PortName port{};
  if (!ParsePortName(portName, &port)) return CopyFitting(out, capacity, portName);
  // The handheld counts ports from 1, the kernel's device nodes from 0.
  const int written =
      std::snprintf(out, capacity, "%s%u", DevicePrefix(port.family), port.number - 1);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

void ModuleFileName(char* out, size_t capacity) {
  Clear(out, capacity);
  if (capacity == 0) return;
  if (const char* override = ModuleOverride()) {
    CopyFitting(out, capacity, override);
    return;
  }
  if (!LocateProgram(kSelfLink, ProgramArgument(), std::getenv("PATH"), out, capacity)) {
    Clear(out, capacity);
  }
}

void TempDirectory(char* out, size_t capacity) {
  Clear(out, capacity);
  const char* dir = std::getenv("TMPDIR");
  if (dir != nullptr && dir[0] != '\0') {
    const size_t length = std::strlen(dir);
    const char* slash = dir[length - 1] == '/' ? "" : "/";
    const int written = std::snprintf(out, capacity, "%s%s", dir, slash);
    if (written >= 0 && static_cast<size_t>(written) < capacity) return;
  }
  // A $TMPDIR too long for the caller falls back as if unset: a cut directory is not it.
  CopyFitting(out, capacity, kDefaultTempDirectory);
}

}  // namespace gpsfw::platform
