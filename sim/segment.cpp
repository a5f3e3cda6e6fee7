#include "sim/segment.h"

namespace gpsfw::sim {

void AppendSegment(std::vector<Segment>& segments, uint32_t address, const uint8_t* bytes,
                   size_t count) {
  if (count == 0) return;
  if (segments.empty() ||
      segments.back().address + segments.back().bytes.size() != uint64_t{address}) {
    segments.push_back(Segment{address, {}});
  }
  segments.back().bytes.insert(segments.back().bytes.end(), bytes, bytes + count);
}

uint64_t SegmentBytes(const std::vector<Segment>& segments) {
  uint64_t total = 0;
  for (const Segment& segment : segments) total += segment.bytes.size();
  return total;
}

}  // namespace gpsfw::sim
