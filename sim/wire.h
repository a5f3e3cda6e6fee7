#pragma once

#include <cstdint>

#include "sim/sim_time.h"

namespace gpsfw::sim {

enum class Direction { kHostToTarget, kTargetToHost };

// One byte on the serial line.
struct WireEvent {
  SimTime startNs = 0;  // start bit begins
  SimTime endNs = 0;    // stop bit ends: the byte reaches the other side
  Direction direction = Direction::kHostToTarget;
  uint8_t byte = 0;      // as sent
  uint8_t received = 0;  // as the receiving side took it (meaningless when dropped)
  uint32_t senderBaud = 0;
  uint32_t receiverBaud = 0;  // 0: nobody listened (the host's port was closed)
  bool garbled = false;       // the two sides ran at different rates
  bool dropped = false;       // the receiving side took no byte
  bool framingError = false;
};

}  // namespace gpsfw::sim
