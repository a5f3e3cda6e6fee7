#include "sim/verification.h"

#include <cstdio>

namespace gpsfw::sim {
namespace {

std::string Describe(const Verification& v) {
  char text[96];
  if (v.verified) {
    std::snprintf(text, sizeof text, "flash verified: %llu bytes match",
                  static_cast<unsigned long long>(v.matched));
  } else if (v.foundByte < 0) {
    std::snprintf(text, sizeof text, "flash differs at 0x%08X: outside the flash",
                  v.firstDifference);
  } else {
    std::snprintf(text, sizeof text, "flash differs at 0x%08X: expected 0x%02X, found 0x%02X",
                  v.firstDifference, v.expectedByte, v.foundByte);
  }
  return text;
}

}  // namespace

Verification VerifyFlash(const Flash& flash, const std::vector<Segment>& expected) {
  Verification v;
  v.verified = true;
  for (const Segment& segment : expected) {
    for (size_t i = 0; i < segment.bytes.size() && v.verified; ++i) {
      const uint32_t address = segment.address + static_cast<uint32_t>(i);
      const bool inside = flash.Contains(address);
      if (inside && flash.Read(address) == segment.bytes[i]) {
        ++v.matched;
        continue;
      }
      v.verified = false;
      v.firstDifference = address;
      v.expectedByte = segment.bytes[i];
      v.foundByte = inside ? flash.Read(address) : -1;
    }
    if (!v.verified) break;
  }
  v.text = Describe(v);
  return v;
}

}  // namespace gpsfw::sim
