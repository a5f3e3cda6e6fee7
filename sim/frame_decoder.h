#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gpsfw::sim {

enum class FrameStatus {
  kIncomplete,   // more bytes to come
  kComplete,     // a sound frame: Payload() holds it
  kNotAFrame,    // the first byte was not FRAME_START
  kBadLength,    // a word count no record can have
  kBadChecksum,  // the XOR of the payload words differs from the checksum
  kNoEnd,        // FRAME_END missing behind the checksum
};

// Takes a record frame apart byte by byte, as the target loaders do. It is written apart from
// the host's frame builder on purpose, sharing only the link bytes: a fault in the builder
// (a wrong count, checksum or byte order) then shows as a rejected record here instead of
// being read back by the same mistake. The frame:
//   5B, N (two bytes, big-endian), N payload words, checksum word, 5D.
// A word count above 1026 (4 address bytes and 2048 data bytes) or of 1 (a payload that
// cannot hold an address) is refused as soon as it has arrived.
class FrameDecoder {
 public:
  static constexpr uint16_t kMaxWords = 1026;

  void Reset();
  // True between the first byte of a frame and its verdict.
  bool Active() const { return part_ != Part::kStart && part_ != Part::kDone; }
  FrameStatus Feed(uint8_t byte);

  uint16_t Words() const { return words_; }
  const std::vector<uint8_t>& Payload() const { return payload_; }

 private:
  enum class Part { kStart, kCountHigh, kCountLow, kPayload, kSumHigh, kSumLow, kEnd, kDone };

  FrameStatus Finish(FrameStatus status);
  FrameStatus TakeCountLow(uint8_t byte);
  uint16_t PayloadChecksum() const;

  Part part_ = Part::kStart;
  uint16_t words_ = 0;
  uint16_t checksum_ = 0;
  std::vector<uint8_t> payload_;
};

}  // namespace gpsfw::sim
