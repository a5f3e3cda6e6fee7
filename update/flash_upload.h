#pragma once

#include "image/image_source.h"
#include "update/run_state.h"

namespace gpsfw {

// The flash stage at 115200 baud: version and type queries, then ProgramFlash. Counts the
// run's flash stages.
bool FlashUpload(RunState& run);
// Boot mode (with run.pfldMode), the erase of the image's range, every record, the end record.
bool ProgramFlash(RunState& run, ImageSource& source);
// Follows the target's sector reports until it says the erase is complete or failed.
bool EraseProgress(SerialLink& link);

}  // namespace gpsfw
