#pragma once

#include <cstdint>

namespace gpsfw::platform {

// The standard line speeds of a serial port, from 1200 to 230400 baud; the receiver's
// loaders use 4800, 19200, 57600 and 115200 of them.
inline constexpr uint32_t kLineSpeeds[] = {1200,  2400,  4800,   9600,  19200,
                                           38400, 57600, 115200, 230400};

inline constexpr bool IsLineSpeed(uint32_t baud) {
  for (uint32_t speed : kLineSpeeds) {
    if (speed == baud) return true;
  }
  return false;
}

}  // namespace gpsfw::platform
