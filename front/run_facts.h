#pragma once

#include <cstdint>

#include "image/image_extent.h"
#include "image/sfld_loader.h"
#include "update/record_census.h"

namespace gpsfw {

// What the front end knows about the run, shared by everything it shows: the command line's
// image and port from the start, the prepared image's facts once preparation succeeded.
struct RunFacts {
  const char* image = "";
  const char* port = "";
  uint64_t startUs = 0;  // the platform clock when the run began

  bool prepared = false;
  bool srecord = false;
  ImageExtent extent{};
  uint32_t eraseStart = 0;
  uint32_t eraseEnd = 0;
  RecordCensus flash;
  bool pfldMode = false;

  bool sfldKnown = false;
  bool sfldFromTail = false;
  char sfldPath[kPathCapacity] = {};
  ImageExtent sfldExtent{};
  RecordCensus sfld;

  uint64_t SinceStartUs() const;
};

// Reads the prepared image objects: extents, erase range, PFLD mode, the records of both
// stages (each reader is read through and rewound).
void TakePreparedFacts(RunFacts& facts);
void TakeSfldSource(RunFacts& facts, bool fromTail, const char* path);

}  // namespace gpsfw
