#pragma once

#include <cstdint>
#include <cstdio>

#include "protocol/link_codes.h"

namespace gpsfw {

// The binary firmware container: the PFLD section at file offset 0, the FW section at
// 0x4000, an optional SFLD tail behind the FW checksum word. File offset k holds target
// address PFLD_BASE + k. All words are 32-bit little-endian.
inline constexpr uint32_t kWordBytes = 4;
// Each section carries its start and end address at offset 0x20 from its first byte.
inline constexpr uint32_t kSectionHeaderOffset = 0x20;
inline constexpr uint32_t kFwSectionOffset = FW_BASE - PFLD_BASE;
inline constexpr uint32_t kFwHeaderOffset = kFwSectionOffset + kSectionHeaderOffset;
// The end address of a section is the target address of its checksum word.
inline constexpr uint32_t kFwEndLimit = 0x10104000;  // exclusive
// Every section starts with an ARM branch instruction: its top byte is 0xE5.
inline constexpr uint32_t kFirstWordMark = 0xE5;
inline constexpr uint32_t kFirstWordMarkShift = 24;
// Whole-file size rules of a container.
inline constexpr long kMinImageSize = 0x400;
inline constexpr long kMaxImageSize = 0x10100000;
// The SFLD tail starts behind the FW checksum word: offset = FW end - PFLD_BASE + 4.
inline constexpr uint32_t kSfldTailBias = PFLD_BASE - kWordBytes;

inline uint32_t LoadLE32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreLE32(uint8_t* bytes, uint32_t value) {
  for (uint32_t i = 0; i < kWordBytes; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The section checksum: XOR of little-endian words; a last group of 1 to 3 bytes fills the low
// end of a word. Sums of consecutive blocks XOR together as long as every block but the last
// holds whole words.
inline uint32_t XorWords(const uint8_t* bytes, size_t size) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + kWordBytes <= size; i += kWordBytes) sum ^= LoadLE32(&bytes[i]);
  uint8_t last[kWordBytes] = {0, 0, 0, 0};
  for (size_t k = 0; i + k < size; ++k) last[k] = bytes[i + k];
  return sum ^ LoadLE32(last);
}

inline bool HasFirstWordMark(uint32_t word) {
  return word >> kFirstWordMarkShift == kFirstWordMark;
}

// One word at the stream's position; false when fewer than four bytes are left.
inline bool ReadWord(std::FILE* stream, uint32_t& word) {
  uint8_t bytes[kWordBytes];
  if (std::fread(bytes, 1, kWordBytes, stream) != kWordBytes) return false;
  word = LoadLE32(bytes);
  return true;
}

inline bool ReadWordAt(std::FILE* stream, long offset, uint32_t& word) {
  return std::fseek(stream, offset, SEEK_SET) == 0 && ReadWord(stream, word);
}

}  // namespace gpsfw
