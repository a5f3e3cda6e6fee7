#include "update/poll_reply.h"

#include <cstring>

#include "protocol/link_codes.h"

namespace gpsfw {
namespace {

constexpr char kVersionTag[] = "$VER";

PollReply::Kind KindOf(uint8_t byte) {
  switch (byte) {
    case kTextReplyStart:
      return PollReply::kText;
    case REC_POLL_CODE:
      return PollReply::kRecPoll;
    case SYNC_CODE:
      return PollReply::kSync;
    case REC_WAIT_CODE:
      return PollReply::kRecWait;
    default:
      return PollReply::kOther;
  }
}

// The bytes may hold zero bytes: searched by length, not as text.
char* FindTag(char* bytes, size_t count) {
  const size_t tag = sizeof kVersionTag - 1;
  for (size_t i = 0; i + tag <= count; ++i) {
    if (std::memcmp(bytes + i, kVersionTag, tag) == 0) return bytes + i;
  }
  return nullptr;
}

// SYNC_CODE and REC_WAIT_CODE only ever come from the receiver's loaders; a version text is
// recognised by its tag; 'D' alone is weak, but answering it only moves the poll on.
PollReply SearchNoise(char* bytes, size_t count) {
  PollReply reply;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = static_cast<uint8_t>(bytes[i]);
    if (byte == SYNC_CODE || byte == REC_WAIT_CODE) {
      reply.kind = KindOf(byte);
      return reply;
    }
  }
  if (char* tag = FindTag(bytes, count)) {
    reply.kind = PollReply::kText;
    reply.tagInNoise = tag;
    return reply;
  }
  if (std::memchr(bytes, REC_POLL_CODE, count) != nullptr) reply.kind = PollReply::kRecPoll;
  return reply;
}

}  // namespace

PollReply ReadPollReply(SerialLink& link, uint8_t first, char* scratch, size_t size) {
  PollReply reply;
  reply.kind = KindOf(first);
  if (reply.kind != PollReply::kOther || size < 2) return reply;
  const size_t n = ReadBlock(link, reinterpret_cast<uint8_t*>(scratch), size - 1);
  return n == 0 ? reply : SearchNoise(scratch, n);
}

}  // namespace gpsfw
