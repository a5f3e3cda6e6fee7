#pragma once

#include <cstdint>

namespace gpsfw {

struct ImageExtent {
  uint32_t start;
  uint32_t entry;
  uint32_t size;
};

}  // namespace gpsfw
