#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/flash.h"
#include "sim/segment.h"

namespace gpsfw::sim {

struct Verification {
  bool verified = false;
  uint64_t matched = 0;          // bytes that matched before the first difference
  uint32_t firstDifference = 0;  // address; meaningful when not verified
  int expectedByte = -1;
  int foundByte = -1;  // -1: the address is outside the flash
  // "flash verified: N bytes match", or
  // "flash differs at 0xAAAAAAAA: expected 0xEE, found 0xFF" ("..., outside the flash").
  std::string text;
};

// Compares the flash with the bytes a correct update leaves in it.
Verification VerifyFlash(const Flash& flash, const std::vector<Segment>& expected);

}  // namespace gpsfw::sim
