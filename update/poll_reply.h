#pragma once

#include <cstddef>
#include <cstdint>

#include "link/serial_port.h"

namespace gpsfw {

inline constexpr uint8_t kTextReplyStart = '$';

// What a poll brought back.
struct PollReply {
  enum Kind { kText, kRecPoll, kSync, kRecWait, kOther };
  Kind kind = kOther;
  // A version reply found inside noise: where its "$VER" tag starts. nullptr when the reply
  // began with its '$' and the rest is still to be read.
  char* tagInNoise = nullptr;
};

// Classifies the first byte read after a poll. When it is noise, the bytes that arrived with
// it are searched for the receiver's answer, so that a noisy line cannot keep the host
// reading one stale byte per poll; `scratch` holds them afterwards.
PollReply ReadPollReply(SerialLink& link, uint8_t first, char* scratch, size_t size);

}  // namespace gpsfw
