#include <windows.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/port_name.h"
#include "platform/program_identity.h"
#include "platform/win32/win32_text.h"

namespace gpsfw::platform {
namespace {

// Longest program path taken, in wide characters with the terminator; a longer one is
// unknown rather than cut.
constexpr DWORD kModulePathCapacity = 4096;

void Clear(char* out, size_t capacity) {
  if (capacity > 0) out[0] = '\0';
}

}  // namespace

bool DevicePathForPort(const char* portName, char* out, size_t capacity) {
  PortName port{};
  if (!ParsePortName(portName, &port)) return CopyFitting(out, capacity, portName);
  // The device namespace reaches every port: a plain "COM10" would name a file.
  const char* family = port.family == PortFamily::kCom ? "COM" : "GPS";
  const int written = std::snprintf(out, capacity, "\\\\.\\%s%u", family, port.number);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

void ModuleFileName(char* out, size_t capacity) {
  Clear(out, capacity);
  if (capacity == 0) return;
  if (const char* override = ModuleOverride()) {
    CopyFitting(out, capacity, override);
    return;
  }
  wchar_t wide[kModulePathCapacity];
  const DWORD n = ::GetModuleFileNameW(nullptr, wide, kModulePathCapacity);
  if (n == 0 || n >= kModulePathCapacity) return;
  // Separators become '/' while the text is wide: in a double-byte code page the byte of
  // '\' may be the second half of a character.
  for (DWORD i = 0; i < n; ++i) {
    if (wide[i] == L'\\') wide[i] = L'/';
  }
  NarrowExactly(out, capacity, wide);
}

void TempDirectory(char* out, size_t capacity) {
  Clear(out, capacity);
  wchar_t wide[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, wide);
  if (n == 0 || n > MAX_PATH) return;
  NarrowExactly(out, capacity, wide);
}

}  // namespace gpsfw::platform
