#pragma once

#include <cstdint>

namespace gpsfw::sim {

// What a UART listening at one rate makes of a byte sent at another.
struct UartSample {
  bool delivered = false;     // false: the start bit was too short to be taken for one
  uint8_t value = 0;          // the data bits as sampled
  bool framingError = false;  // the stop bit sampled low
};

// Samples the waveform of `byte` sent at `senderBaud` the way a UART at `receiverBaud` does:
// it starts at the falling edge of the start bit, checks the start bit half a bit later and
// takes each data bit and the stop bit in the middle of its own bit time; the line is idle
// (high) behind the sender's stop bit. At equal rates this gives the byte itself. A byte sent
// much slower reads as zero bits with a framing error; one sent much faster is often not
// taken at all. One byte in gives at most one byte out: the further bytes a real UART may
// find in a slow byte's long low bits are not modelled.
UartSample SampleByte(uint8_t byte, uint32_t senderBaud, uint32_t receiverBaud);

}  // namespace gpsfw::sim
