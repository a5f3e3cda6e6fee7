#pragma once

#include <cstddef>
#include <cstdint>

#include "report/observer.h"

namespace gpsfw {

// Consecutive bytes in one direction at one rate, close in time: one line of the trace.
inline constexpr size_t kBurstCapacity = 4096;

struct WireBurst {
  WireDirection direction = WireDirection::kToTarget;
  uint32_t baud = 0;
  uint64_t startUs = 0;
  uint64_t lastUs = 0;
  size_t count = 0;
  uint8_t bytes[kBurstCapacity];
};

// What the bursts so far tell about the next one: a SYNC_CODE from the target after a frame
// is its acceptance, a four-word frame after ERASE_CODE is the erase range, a 0x91 after the
// type query is the type reply, and the burst after a lone '$' is the rest of a text reply.
struct WireContext {
  bool frameSent = false;
  bool eraseAsked = false;
  bool typeAsked = false;
  bool textReplyOpen = false;  // a '$' came alone: the rest of its reply follows
};

// The protocol's names for what the burst holds ("WAKE_SEQUENCE", "SYNC_CODE x4", "record
// 0x10000000, 2048 bytes, checksum 0x1A2B", ...), separated by blanks and commas; empty when
// nothing is recognised. Updates the context.
void NameBurst(const WireBurst& burst, WireContext& context, char* out, size_t capacity);

}  // namespace gpsfw
