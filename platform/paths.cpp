#include "platform/paths.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gpsfw::platform {
namespace {

struct PortFamily {
  const char* prefix;  // matched without regard to case, as port names are on the handheld
  const char* devicePrefix;
};

constexpr PortFamily kPortFamilies[] = {
    {"COM", "/dev/ttyS"},
    {"GPS", "/dev/gps"},
};

// Larger numbers are not port names but paths that happen to look like one; the bound also
// keeps the number from overflowing.
constexpr uint32_t kMaxPortNumber = 9999;
constexpr size_t kModulePathCapacity = 4096;
constexpr const char kDefaultTempDirectory[] = "/tmp/";

char g_moduleOverride[kModulePathCapacity];
bool g_moduleOverridden = false;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::toupper(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}

// The n of "n:" ending the name, or 0 when the rest is not a port number with its colon.
uint32_t PortNumber(const char* rest) {
  uint32_t number = 0;
  const char* digit = rest;
  for (; std::isdigit(static_cast<unsigned char>(*digit)); ++digit) {
    number = number * 10 + static_cast<uint32_t>(*digit - '0');
    if (number > kMaxPortNumber) return 0;
  }
  if (digit == rest || digit[0] != ':' || digit[1] != '\0') return 0;
  return number;
}

bool CopyFitting(char* out, size_t capacity, const char* text) {
  const int written = std::snprintf(out, capacity, "%s", text);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

void Clear(char* out, size_t capacity) {
  if (capacity > 0) out[0] = '\0';
}

}  // namespace

bool DevicePathForPort(const char* portName, char* out, size_t capacity) {
  for (const PortFamily& family : kPortFamilies) {
    if (!StartsWithNoCase(portName, family.prefix)) continue;
    const uint32_t number = PortNumber(portName + std::strlen(family.prefix));
    if (number == 0) break;
    const int written = std::snprintf(out, capacity, "%s%u", family.devicePrefix, number - 1);
    return written >= 0 && static_cast<size_t>(written) < capacity;
  }
  return CopyFitting(out, capacity, portName);
}

void ModuleFileName(char* out, size_t capacity) {
  Clear(out, capacity);
  if (capacity == 0) return;
  if (g_moduleOverridden) {
    if (!CopyFitting(out, capacity, g_moduleOverride)) Clear(out, capacity);
    return;
  }
  const ssize_t n = ::readlink("/proc/self/exe", out, capacity);
  // A link that fills the whole buffer may have been cut: a cut path names another file.
  if (n <= 0 || static_cast<size_t>(n) >= capacity) {
    Clear(out, capacity);
    return;
  }
  out[n] = '\0';
}

void OverrideModuleFileName(const char* path) {
  g_moduleOverridden = path != nullptr;
  // An override too long to hold makes the program's path unknown rather than a cut one.
  if (g_moduleOverridden && !CopyFitting(g_moduleOverride, sizeof g_moduleOverride, path)) {
    g_moduleOverride[0] = '\0';
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
  if (!CopyFitting(out, capacity, kDefaultTempDirectory)) Clear(out, capacity);
}

}  // namespace gpsfw::platform
