#pragma once

#include "image/srec_reader.h"
#include "update/run_state.h"

namespace gpsfw {

// Sends the whole SFLD into the boot loader, one confirmed record at a time, and closes it
// with the end record. True when the target accepted every record. Counts the run's uploads.
bool UploadSfld(RunState& run, SRecReader& reader);

}  // namespace gpsfw
