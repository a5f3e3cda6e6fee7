#pragma once

#include <cstdint>

#include "image/sfld_loader.h"
#include "protocol/image_extent.h"
#include "report/failure_reason.h"
#include "report/prepared_facts.h"
#include "report/receiver_identity.h"

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

  bool sfldFromTail = false;
  char sfldPath[kPathCapacity] = {};
  ImageExtent sfldExtent{};
  RecordCensus sfld;

  // The run's failure, once a step has reported one (the first counts).
  bool failed = false;
  char failureCode[32] = {};
  char failureMessage[FailureReason::kMessageCapacity] = {};

  // Other programs that hold the port open ("PID 123 (minicom)"); empty when none.
  char portHolders[256] = {};

  // False once a line of the progress log could not be written.
  bool logComplete = true;

  // What the receiver told of itself (its versions, the flash type), as far as known.
  ReceiverIdentity identity;

  uint64_t SinceStartUs() const;
};

// Keeps the first failure reported, copied.
void TakeFailure(RunFacts& facts, const FailureReason& reason);
// Keeps what image preparation found, its SFLD path copied.
void TakePreparedFacts(RunFacts& facts, const PreparedFacts& prepared);

}  // namespace gpsfw
