// The receiver's own reading of a record frame, independent of the host's code so that a
// fault in the host's frame builder cannot hide itself (see frame_decoder.h).
#include "sim/frame_decoder.h"

#include "protocol/link_codes.h"

namespace gpsfw::sim {

void FrameDecoder::Reset() {
  part_ = Part::kStart;
  words_ = 0;
  checksum_ = 0;
  payload_.clear();
}

FrameStatus FrameDecoder::Finish(FrameStatus status) {
  part_ = Part::kDone;
  return status;
}

FrameStatus FrameDecoder::TakeCountLow(uint8_t byte) {
  words_ = static_cast<uint16_t>(words_ << 8 | byte);
  if (words_ > kMaxWords || words_ == 1) return Finish(FrameStatus::kBadLength);
  payload_.reserve(size_t{2} * words_);
  part_ = words_ == 0 ? Part::kSumHigh : Part::kPayload;
  return FrameStatus::kIncomplete;
}

uint16_t FrameDecoder::PayloadChecksum() const {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < payload_.size(); i += 2) {
    sum ^= static_cast<uint16_t>(payload_[i] << 8 | payload_[i + 1]);
  }
  return sum;
}

FrameStatus FrameDecoder::Feed(uint8_t byte) {
  switch (part_) {
    case Part::kStart:
      if (byte != FRAME_START) return Finish(FrameStatus::kNotAFrame);
      part_ = Part::kCountHigh;
      return FrameStatus::kIncomplete;
    case Part::kCountHigh:
      words_ = byte;
      part_ = Part::kCountLow;
      return FrameStatus::kIncomplete;
    case Part::kCountLow:
      return TakeCountLow(byte);
    case Part::kPayload:
      payload_.push_back(byte);
      if (payload_.size() == size_t{2} * words_) part_ = Part::kSumHigh;
      return FrameStatus::kIncomplete;
    case Part::kSumHigh:
      checksum_ = static_cast<uint16_t>(byte << 8);
      part_ = Part::kSumLow;
      return FrameStatus::kIncomplete;
    case Part::kSumLow:
      checksum_ |= byte;
      part_ = Part::kEnd;
      return FrameStatus::kIncomplete;
    case Part::kEnd:
      // The end mark is checked first: without it the checksum may be any two bytes.
      if (byte != FRAME_END) return Finish(FrameStatus::kNoEnd);
      if (checksum_ != PayloadChecksum()) return Finish(FrameStatus::kBadChecksum);
      return Finish(FrameStatus::kComplete);
    case Part::kDone:
      break;
  }
  return FrameStatus::kIncomplete;
}

}  // namespace gpsfw::sim
