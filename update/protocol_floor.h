#pragma once

#include <cstdint>

#include "protocol/record_census.h"

namespace gpsfw {

// A character on the line: start bit, 8 data bits, stop bit.
inline constexpr uint32_t kBitsPerByte = 10;

// One step of an update at the protocol's floor: the wire time of the bytes the step must
// exchange at their rate, and the pauses the host keeps in it.
struct FloorStep {
  const char* name;
  uint64_t bytes;      // both directions
  double wireSeconds;  // of those bytes, each at its rate
  uint32_t pauseMs;    // the host's own pauses
  double Seconds() const { return wireSeconds + pauseMs / 1000.0; }
};

// The time `bytes` characters take on a line at `baud`.
inline double WireSeconds(uint64_t bytes, uint32_t baud) {
  return static_cast<double>(bytes) * kBitsPerByte / baud;
}

inline constexpr int kFloorSteps = 7;

// The shortest update the protocol allows for one image: every step taken once, by a
// receiver that answers at once and erases and programs in no time. Not counted: the
// receiver's own time (its answers' latency, erasing, programming), sector reports (their
// number depends on the receiver's flash), and the text of its version replies beyond the
// tag the host looks for.
struct ProtocolFloor {
  FloorStep steps[kFloorSteps];
  double Seconds() const;
};

ProtocolFloor FloorOfUpdate(const RecordCensus& sfld, const RecordCensus& flash, bool pfldMode);

}  // namespace gpsfw
