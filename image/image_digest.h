#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw {

// The checksums a release names its image by, over every byte of the file: CRC-32 (the IEEE
// 802.3 polynomial of zip and PNG) and SHA-256 (FIPS 180-4). The loader keeps to the
// standard library, so both are computed here, in fixed memory.
struct ImageDigest {
  uint64_t size = 0;
  uint32_t crc32 = 0;
  char sha256[65] = {};  // lower-case hex
};

// False when the file cannot be read whole.
bool DigestFile(const char* path, ImageDigest& digest);

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* bytes, size_t count);
  // The digest as 64 lower-case hex digits and a terminator.
  void Finish(char hex[65]);

 private:
  void Block(const uint8_t* block);
  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t count);
// The one spelling of a CRC-32 wherever a program shows or keeps one: 8 lower-case hex digits
// ("cbf43926"), as the station's record has stored it from its first row and as checksum
// tools print it.
void Crc32Hex(uint32_t crc, char hex[9]);

}  // namespace gpsfw
