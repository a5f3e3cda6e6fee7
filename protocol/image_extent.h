#pragma once

#include <cstdint>

namespace gpsfw {

// Where an image goes in the target: start address, entry point and size in bytes.
struct ImageExtent {
  uint32_t start;
  uint32_t entry;
  uint32_t size;
};

}  // namespace gpsfw
