#pragma once

#include <cstdint>
#include <limits>

namespace gpsfw::sim {

// Simulated time in nanoseconds since the receiver was powered on. Nanoseconds keep the
// byte times of every line speed exact enough that long transfers do not drift.
using SimTime = uint64_t;

inline constexpr SimTime kNever = std::numeric_limits<SimTime>::max();
inline constexpr SimTime kNsPerUs = 1000;
inline constexpr SimTime kNsPerMs = 1000 * kNsPerUs;
inline constexpr SimTime kNsPerSecond = 1000 * kNsPerMs;

// A UART frame: start bit, eight data bits, one stop bit.
inline constexpr uint32_t kBitsPerByte = 10;

// How long one byte occupies the line at `baud`.
inline constexpr SimTime ByteTimeNs(uint32_t baud) {
  return baud == 0 ? 0 : kBitsPerByte * kNsPerSecond / baud;
}

inline constexpr SimTime UsToNs(uint64_t us) {
  return us * kNsPerUs;
}
inline constexpr SimTime MsToNs(uint64_t ms) {
  return ms * kNsPerMs;
}
inline constexpr double NsToSeconds(SimTime ns) {
  return static_cast<double>(ns) / kNsPerSecond;
}

}  // namespace gpsfw::sim
