#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/receiver.h"
#include "sim/sim_time.h"

namespace gpsfw::sim {

// What a UART made of the line: one frame, taken when its stop bit was sampled.
struct UartFrame {
  uint8_t value = 0;
  bool framingError = false;  // the stop bit sampled low
  bool garbled = false;       // it began in a byte sent at another rate
  SimTime atNs = 0;           // the stop bit's sample
};

// A byte the UART is done with, and the first frame that began in it, for the wire log.
struct UartConsumed {
  TxByte byte;
  bool framed = false;  // a frame began in it
  UartFrame first;
};

// A UART listening at one rate to the whole waveform of a stream of bytes, as the chip does:
// it hunts for a falling edge, starts its 16x sampling clock there (at a tick up to 1/16 bit
// later), checks the start bit half a bit on and takes each data bit and the stop bit in the
// middle of its own bit time; then it hunts again from the stop bit's sample. Bytes sent at
// the same rate come out as they were sent. A byte sent slower may yield further frames from
// its own low bits; a faster stream is cut into frames wherever its edges fall. A sample
// near an edge of the sender's waveform (within 1/16 bit, where the chip's majority of three
// samples straddles it, widened by the drift of the two clocks since the start edge) is
// decided by a generator seeded with `seed` and keyed by the time of the frame's start
// edge, so the same waveform always gives the same frames, however often the caller looks.
class UartStream {
 public:
  explicit UartStream(uint32_t seed) : seed_(seed) {}

  // The next byte on the line: bytes come in order, each starting after the previous ended.
  void Push(const TxByte& byte);
  // Samples at `baud` as far as the line is known up to `horizonNs` (nothing sent later may
  // start before it). Frames go to `frames`, bytes the UART has passed to `consumed`. At
  // `baud` 0 nobody listens: the bytes up to the horizon are passed, unframed.
  void Run(SimTime horizonNs, uint32_t baud, std::vector<UartFrame>& frames,
           std::vector<UartConsumed>& consumed);
  // When Run at `baud` next has something to do, with the line known so far; kNever when
  // no falling edge waits.
  SimTime NextNs(uint32_t baud) const;
  // The line goes dead (the port is gone): everything on it is lost.
  void Clear(SimTime nowNs);

 private:
  struct Sampled {
    bool started = false;  // the start bit was still low at its check
    UartFrame frame;
    SimTime doneNs = 0;  // the last sample and its window
  };

  bool Level(SimTime t) const;
  // The first change of level at or after `fromNs`, and whether it falls; kNever when none
  // is known.
  SimTime NextChange(SimTime fromNs, bool* falls) const;
  // The first falling edge at or after `fromNs`; kNever when none is known.
  SimTime NextFallingEdge(SimTime fromNs) const;
  Sampled SampleFrom(SimTime edgeNs, uint32_t baud) const;
  void Consume(SimTime upToNs, std::vector<UartConsumed>& consumed);

  uint32_t seed_;
  std::deque<UartConsumed> bytes_;
  SimTime huntFromNs_ = 0;
};

}  // namespace gpsfw::sim
