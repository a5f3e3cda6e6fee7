#include "protocol/record_packet.h"

#include "protocol/link_codes.h"

namespace gpsfw {
namespace {

constexpr uint16_t kPayloadOffset = kFramePayloadOffset;
constexpr uint16_t kAddressBytes = kFrameAddressBytes;

void Carry(RecordPacket& packet, uint32_t address, uint16_t count, const uint16_t* bytes) {
  // Callers bring at most 2048 bytes per Append, which always fits; never overrun regardless.
  if (count > kMaxCarry) count = kMaxCarry;
  CarryOver& carry = packet.carry;
  carry.present = 1;
  carry.address = address;
  carry.length = count;
  for (uint16_t i = 0; i < count; ++i) carry.data[i] = bytes[i];
}

void PutPayloadByte(RecordPacket& packet, uint8_t byte) {
  packet.frame[kPayloadOffset + packet.length] = byte;
  ++packet.length;
}

}  // namespace

void Reset(RecordPacket& packet) {
  packet.address = 0;
  packet.length = 0;
  packet.dataCount = 0;
  packet.first = 1;
}

bool Append(RecordPacket& packet, uint32_t address, uint16_t count, const uint16_t* bytes) {
  if (packet.first) {
    packet.first = 0;
    packet.address = address;
    packet.carry.present = 0;
    packet.frame[0] = FRAME_START;
    WriteBE32(&packet.frame[kPayloadOffset], address);
    packet.length = kAddressBytes;
  } else if (packet.dataCount >= kMaxRecordData || address != packet.address + packet.dataCount) {
    if (count != 0) Carry(packet, address, count, bytes);
    return true;
  }
  for (uint16_t i = 0; i < count; ++i) {
    PutPayloadByte(packet, static_cast<uint8_t>(bytes[i]));
    ++packet.dataCount;
    if (packet.dataCount == kMaxRecordData) {
      const uint16_t taken = i + 1;
      if (taken < count) Carry(packet, address + taken, count - taken, bytes + taken);
      return true;
    }
  }
  return false;
}

void Seal(RecordPacket& packet) {
  packet.frame[0] = FRAME_START;
  if (packet.length % 2 != 0) PutPayloadByte(packet, 0x00);
  const uint16_t words = packet.length / 2;
  packet.frame[1] = static_cast<uint8_t>(words >> 8);
  packet.frame[2] = static_cast<uint8_t>(words);
  const uint16_t checksum = FrameChecksum(&packet.frame[kPayloadOffset], words);
  uint8_t* tail = &packet.frame[kPayloadOffset + packet.length];
  tail[0] = static_cast<uint8_t>(checksum >> 8);
  tail[1] = static_cast<uint8_t>(checksum);
  tail[2] = FRAME_END;
  packet.length += kFrameOverhead;
}

void MakeEndRecord(RecordPacket& packet) {
  static constexpr uint8_t kEndRecord[kFrameOverhead] = {FRAME_START, 0, 0, 0, 0, FRAME_END};
  packet.length = kFrameOverhead;
  packet.address = 0;
  for (uint16_t i = 0; i < kFrameOverhead; ++i) packet.frame[i] = kEndRecord[i];
}

void MakeEraseRecord(RecordPacket& packet, uint32_t start, uint32_t end) {
  packet.length = 2 * kAddressBytes;
  packet.address = start;
  WriteBE32(&packet.frame[kPayloadOffset], start);
  WriteBE32(&packet.frame[kPayloadOffset + kAddressBytes], end);
  Seal(packet);
}

}  // namespace gpsfw
