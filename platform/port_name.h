#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw::platform {

// The port families of the handheld's device names: "COMn:" and "GPSn:".
enum class PortFamily { kCom, kGps };

struct PortName {
  PortFamily family;
  uint32_t number;  // n of the name, 1 and up
};

// True when `name` is "COMn:" or "GPSn:" (in any case) with a port number from 1 to 9999
// and nothing behind the colon; anything else is a path of the host.
bool ParsePortName(const char* name, PortName* port);

// Copies `text` when it fits with its terminator; otherwise `out` is left empty and the
// result is false, as a cut path names another file.
bool CopyFitting(char* out, size_t capacity, const char* text);

}  // namespace gpsfw::platform
