#include <cstring>

#include "image/srec_reader.h"

namespace gpsfw {
namespace {

constexpr size_t kCountIndex = 2;
constexpr size_t kAddressIndex = 4;
constexpr size_t kPairChars = 2;
constexpr uint8_t kSumComplement = 0xFF;
constexpr uint8_t kEntryType = 7;
constexpr size_t kEntryAddressBytes = 4;
// Other record types have their address read as up to eight digits.
constexpr size_t kMaxAddressDigits = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool HexByteAt(const char* text, size_t length, size_t index, uint8_t& value) {
  if (index + kPairChars > length) return false;
  const int high = HexDigit(text[index]);
  const int low = HexDigit(text[index + 1]);
  if (high < 0 || low < 0) return false;
  value = static_cast<uint8_t>(high << 4 | low);
  return true;
}

// `bytes` big-endian digit pairs from `index` on; the caller has checked that they exist.
uint32_t HexValueAt(const char* text, size_t length, size_t index, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; ++i) {
    uint8_t byte = 0;
    HexByteAt(text, length, index + kPairChars * i, byte);
    value = value << 8 | byte;
  }
  return value;
}

// Up to eight hex digits, stopping at the first character that is not one.
uint32_t LooseAddress(const char* text, size_t length) {
  uint32_t value = 0;
  for (size_t i = kAddressIndex; i < length && i < kAddressIndex + kMaxAddressDigits; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) break;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

// S1, S2 and S3 carry 2, 3 and 4 address bytes; the count covers address, data and sum.
bool ParseDataLine(const char* text, size_t length, uint8_t count, SRecLine& line) {
  const size_t addressBytes = line.type + 1u;
  if (count < addressBytes + 1) return false;
  line.address = HexValueAt(text, length, kAddressIndex, addressBytes);
  line.length = static_cast<uint16_t>(count - addressBytes - 1);
  const size_t dataIndex = kAddressIndex + kPairChars * addressBytes;
  for (uint16_t i = 0; i < line.length; ++i) {
    uint8_t byte = 0;
    HexByteAt(text, length, dataIndex + kPairChars * i, byte);
    line.data[i] = byte;
  }
  return true;
}

}  // namespace

bool CheckLineSum(const char* text) {
  const size_t length = std::strlen(text);
  uint8_t count = 0;
  if (!HexByteAt(text, length, kCountIndex, count)) return false;
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t byte = 0;
    if (!HexByteAt(text, length, kCountIndex + kPairChars * i, byte)) return false;
    sum += byte;
  }
  uint8_t stored = 0;
  if (!HexByteAt(text, length, kCountIndex + kPairChars * count, stored)) return false;
  return stored == static_cast<uint8_t>(kSumComplement - (sum & kSumComplement));
}

int ParseLineText(const char* text, SRecLine& line) {
  const size_t length = std::strlen(text);
  if (length > kSRecMaxLineText || text[0] != 'S' || !CheckLineSum(text)) return kLineError;
  line.type = static_cast<uint8_t>(text[1] - '0');
  uint8_t count = 0;
  HexByteAt(text, length, kCountIndex, count);
  if (line.type == 0) {
    line.length = 0;
    line.address = 0;
  } else if (line.type <= 3) {
    if (!ParseDataLine(text, length, count, line)) return kLineError;
  } else if (line.type == kEntryType) {
    // The entry point is a full 32-bit address; a count too small to hold it is malformed.
    if (count < kEntryAddressBytes + 1) return kLineError;
    line.length = count;
    line.address = HexValueAt(text, length, kAddressIndex, kEntryAddressBytes);
  } else {
    line.length = count;
    line.address = LooseAddress(text, length);
  }
  return kLineParsed;
}

}  // namespace gpsfw
