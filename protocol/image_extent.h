#pragma once

#include <cstdint>

namespace gpsfw {

// Where an image goes in the target: start address, entry point and size in bytes.
struct ImageExtent {
  uint32_t start;
  uint32_t entry;
  uint32_t size;
};

// The range the target is asked to erase before the image is programmed: from the image's
// start to the first address behind it. The flash stage sends it, and --check names it.
inline uint32_t EraseEnd(const ImageExtent& extent) {
  return extent.start + extent.size;
}

}  // namespace gpsfw
