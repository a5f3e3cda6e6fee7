#pragma once

#include <cstdint>

#include "protocol/image_extent.h"
#include "protocol/record_census.h"

namespace gpsfw {

// What image preparation found, worked out once per run and handed to the observer in one
// value: nobody who watches the run reads an image again.
struct PreparedFacts {
  bool srecord = false;
  ImageExtent extent{};
  // The erase record carries the start and the start plus the size.
  uint32_t eraseStart = 0;
  uint32_t eraseEnd = 0;
  bool pfldMode = false;
  RecordCensus flash;
  // The SFLD: the copy of the image's tail when `sfldFromTail`, else the file found beside
  // the program. `sfldPath` stays valid for the observer's call only.
  bool sfldFromTail = false;
  const char* sfldPath = "";
  // Not 0 (errno) when the image's SFLD could not replace the shared file at `sfldPath`,
  // which another user may own: the run uses its own copy of the tail instead.
  int sfldNotReplaced = 0;
  ImageExtent sfldExtent{};
  RecordCensus sfld;
};

}  // namespace gpsfw
