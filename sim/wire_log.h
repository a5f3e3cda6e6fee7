#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/wire.h"

namespace gpsfw::sim {

// Consecutive bytes in one direction at one rate, for checks on what went over the line.
struct WireRun {
  Direction direction = Direction::kHostToTarget;
  uint32_t senderBaud = 0;
  uint32_t receiverBaud = 0;
  SimTime startNs = 0;         // first byte's start bit
  SimTime endNs = 0;           // last byte's stop bit
  std::vector<uint8_t> bytes;  // as sent; the first `keptBytes` of AddToRuns
  size_t count = 0;            // bytes in the run
  size_t garbled = 0;          // how many of them arrived garbled
};

// Adds one event to `runs`, extending the last run when the event continues it. A run keeps
// the first `keptBytes` of its bytes and counts the rest.
void AddToRuns(std::vector<WireRun>& runs, const WireEvent& event, SimTime gapNs = kNever,
               size_t keptBytes = SIZE_MAX);

// Splits the log into runs: a run ends where the direction, either rate or the garbling
// changes, or where the line stayed idle for more than `gapNs` between two of its bytes.
std::vector<WireRun> GroupRuns(const std::vector<WireEvent>& wire, SimTime gapNs = kNever);

// The bytes sent in `direction`; with `senderBaud` other than 0 only those sent at that rate.
std::vector<uint8_t> BytesSent(const std::vector<WireEvent>& wire, Direction direction,
                               uint32_t senderBaud = 0);

// The bytes sent in `direction` that reached the other side in [fromNs, toNs), for instance
// within one of the receiver's phases.
std::vector<uint8_t> BytesSentBetween(const std::vector<WireEvent>& wire, Direction direction,
                                      SimTime fromNs, SimTime toNs);

// "55 77 5B" for messages.
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace gpsfw::sim
