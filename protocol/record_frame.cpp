#include "protocol/record_frame.h"

#include "protocol/link_codes.h"

namespace gpsfw {

uint16_t ReadBE16(const uint8_t* source) {
  return static_cast<uint16_t>(source[0] << 8 | source[1]);
}

uint32_t ReadBE32(const uint8_t* source) {
  return static_cast<uint32_t>(source[0]) << 24 | static_cast<uint32_t>(source[1]) << 16 |
         static_cast<uint32_t>(source[2]) << 8 | source[3];
}

void WriteBE32(uint8_t* destination, uint32_t value) {
  destination[0] = static_cast<uint8_t>(value >> 24);
  destination[1] = static_cast<uint8_t>(value >> 16);
  destination[2] = static_cast<uint8_t>(value >> 8);
  destination[3] = static_cast<uint8_t>(value);
}

uint16_t FrameChecksum(const uint8_t* payload, uint16_t words) {
  uint16_t checksum = 0;
  for (uint16_t i = 0; i < words; ++i) checksum ^= ReadBE16(payload + 2 * i);
  return checksum;
}

bool ParseFrame(const uint8_t* bytes, size_t count, RecordFrame& frame) {
  if (count < kFrameOverhead || bytes[0] != FRAME_START) return false;
  const uint16_t words = ReadBE16(bytes + 1);
  const size_t length = 2u * words + kFrameOverhead;
  if (length > count || bytes[length - 1] != FRAME_END) return false;
  frame.length = length;
  frame.words = words;
  frame.payload = bytes + kFramePayloadOffset;
  frame.address = 2u * words >= kFrameAddressBytes ? ReadBE32(frame.payload) : 0;
  frame.storedChecksum = ReadBE16(frame.payload + 2u * words);
  frame.computedChecksum = FrameChecksum(frame.payload, words);
  return true;
}

}  // namespace gpsfw
