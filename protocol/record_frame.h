#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw {

// A record frame on the wire: 5B, N (big-endian word count), N payload words, XOR of the
// words, 5D. A data record's payload starts with its big-endian target address.
inline constexpr uint16_t kFramePayloadOffset = 3;  // behind the start mark and the count
inline constexpr uint16_t kFrameOverhead = 6;       // marks, count and checksum
inline constexpr uint16_t kFrameAddressBytes = 4;

// What one frame holds. `payload` points into the parsed bytes.
struct RecordFrame {
  size_t length = 0;  // frame bytes, both marks included
  uint16_t words = 0;
  const uint8_t* payload = nullptr;  // 2 * words bytes
  uint32_t address = 0;              // the payload's first four bytes; 0 when shorter
  uint16_t storedChecksum = 0;
  uint16_t computedChecksum = 0;
  bool ChecksumOk() const { return storedChecksum == computedChecksum; }
};

// True when a whole frame starts at `bytes[0]` within `count` bytes: the start mark, a word
// count whose frame fits, the end mark where the count puts it. Whether its checksum is
// right is in the frame.
bool ParseFrame(const uint8_t* bytes, size_t count, RecordFrame& frame);

// XOR of `words` big-endian payload words: the frame's checksum.
uint16_t FrameChecksum(const uint8_t* payload, uint16_t words);
uint16_t ReadBE16(const uint8_t* source);
uint32_t ReadBE32(const uint8_t* source);
void WriteBE32(uint8_t* destination, uint32_t value);

}  // namespace gpsfw
