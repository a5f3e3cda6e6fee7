#include "sim/uart.h"

namespace gpsfw::sim {
namespace {

constexpr uint32_t kDataBits = 8;
constexpr uint32_t kStopBitIndex = kDataBits + 1;

// Line level in the sender's bit `index`: start bit low, data bits LSB first, stop bit and
// idle line high.
bool SenderLevel(uint8_t byte, uint64_t index) {
  if (index == 0) return false;
  if (index <= kDataBits) return ((byte >> (index - 1)) & 1) != 0;
  return true;
}

// The receiver samples its bit `index` in the middle; which sender bit lies there.
uint64_t SenderBitAt(uint32_t index, uint32_t senderBaud, uint32_t receiverBaud) {
  return (uint64_t{2} * index + 1) * senderBaud / (uint64_t{2} * receiverBaud);
}

}  // namespace

UartSample SampleByte(uint8_t byte, uint32_t senderBaud, uint32_t receiverBaud) {
  UartSample sample;
  if (senderBaud == 0 || receiverBaud == 0) return sample;
  auto level = [&](uint32_t index) {
    return SenderLevel(byte, SenderBitAt(index, senderBaud, receiverBaud));
  };
  if (level(0)) return sample;  // the start bit was gone by mid-bit: taken for a glitch
  sample.delivered = true;
  for (uint32_t bit = 0; bit < kDataBits; ++bit) {
    if (level(bit + 1)) sample.value |= static_cast<uint8_t>(1u << bit);
  }
  sample.framingError = !level(kStopBitIndex);
  return sample;
}

}  // namespace gpsfw::sim
