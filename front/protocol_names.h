#pragma once

#include <cstddef>
#include <cstdint>

#include "report/observer.h"

namespace gpsfw {

// The names the front end shows for what the core reports: stable texts, shared by the
// console, the event stream and the trace.

// "preparing", "waking", ..., "done".
const char* PhaseName(UpdatePhase phase);
// "BAD_CSUM" and the other rejections; nullptr for a byte that is none of them.
const char* VerdictName(uint8_t byte);
// "accepted", a rejection's name, "no_request" or "no_verdict".
const char* OutcomeName(const RecordReport& record);
// "data", "end" or "erase".
const char* RecordKindName(int index);

inline constexpr size_t kLineErrorKinds = 6;
// The names of the kCe* flags set in `flags` ("CE_FRAME", ...), in a fixed order; returns
// how many were stored.
size_t LineErrorNames(uint32_t flags, const char* names[kLineErrorKinds]);

}  // namespace gpsfw
