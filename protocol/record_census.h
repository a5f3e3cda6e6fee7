#pragma once

#include <cstdint>

namespace gpsfw {

// What one stage sends: its data records and the bytes in them. The end record is not
// counted among the records; its frame is counted in `frameBytes`.
struct RecordCensus {
  uint32_t records = 0;
  uint64_t bytes = 0;       // data bytes of the data records
  uint64_t frameBytes = 0;  // bytes on the wire of every frame, the end record's included
  bool complete = false;    // false when the reader failed before the end of the image
};

}  // namespace gpsfw
