#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "sim/receiver.h"
#include "sim/sim_time.h"

namespace gpsfw::sim {

// The receiver's UART on its way out: bytes leave one behind the other at the line's rate,
// and reach the host when their stop bit ends.
class TxQueue {
 public:
  // `count` bytes at `baud`, the first not before `notBefore`.
  void Send(const uint8_t* bytes, size_t count, uint32_t baud, SimTime notBefore);
  // The next byte whose stop bit has ended by `now`, in order. False when none.
  bool Take(SimTime now, TxByte& out);
  // When the next byte is complete; kNever when none is on its way.
  SimTime Next() const { return bytes_.empty() ? kNever : bytes_.front().endNs; }
  // When the next byte's start bit begins (or began); kNever when none is on its way.
  SimTime NextStart() const { return bytes_.empty() ? kNever : bytes_.front().startNs; }
  // When the UART has sent everything queued; `now` when it already has.
  SimTime IdleAt(SimTime now) const;
  // A UART cannot send faster than its line: chatter or garbage beyond a second's worth of
  // bytes waiting to go out is not produced.
  bool Backlogged(SimTime now) const { return busyUntil_ > now + kNsPerSecond; }
  // A reset or a loss of power: whatever had not reached the host by `now` is cut off.
  void CutOff(SimTime now);

 private:
  std::deque<TxByte> bytes_;
  SimTime busyUntil_ = 0;
};

}  // namespace gpsfw::sim
