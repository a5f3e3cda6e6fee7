#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gpsfw::sim {

// Bytes at consecutive target addresses.
struct Segment {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

// Adds `count` bytes at `address` to `segments`, extending the last segment when they
// continue it.
void AppendSegment(std::vector<Segment>& segments, uint32_t address, const uint8_t* bytes,
                   size_t count);

// Number of bytes in all segments.
uint64_t SegmentBytes(const std::vector<Segment>& segments);

}  // namespace gpsfw::sim
