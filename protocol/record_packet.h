#pragma once

#include <cstdint>

#include "protocol/record_frame.h"

namespace gpsfw {

inline constexpr uint16_t kMaxRecordData = 2048;
inline constexpr uint16_t kMaxCarry = 2063;
inline constexpr uint16_t kFrameCapacity = 2064;

// Bytes that did not fit into the last packet, kept for the next one.
struct CarryOver {
  uint8_t present;
  uint32_t address;
  uint16_t data[kMaxCarry];
  uint16_t length;
};

// One record for the target: a target address, up to 2048 data bytes and its frame
// (record_frame.h).
struct RecordPacket {
  uint32_t address;
  uint8_t frame[kFrameCapacity];
  uint16_t length;  // payload bytes while filling; frame bytes once sealed
  uint16_t dataCount;
  uint8_t first;
  CarryOver carry;
};

void Reset(RecordPacket& packet);
// True when the packet is closed: full, or the bytes do not continue it. Bytes not taken go
// into packet.carry. Only the low 8 bits of each element are data.
bool Append(RecordPacket& packet, uint32_t address, uint16_t count, const uint16_t* bytes);
void Seal(RecordPacket& packet);
void MakeEndRecord(RecordPacket& packet);
void MakeEraseRecord(RecordPacket& packet, uint32_t start, uint32_t end);

}  // namespace gpsfw
