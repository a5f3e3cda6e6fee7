#pragma once

#include "update/run_state.h"

namespace gpsfw {

// Wakes the boot loader and polls it until the flash stage has succeeded. Never gives up.
bool RunSession(RunState& run);
// The wake sequence at 4800 and 57600 baud, each followed by four SYNC_CODE at 19200.
// Counts the run's wake-ups.
void WakeTarget(RunState& run);

}  // namespace gpsfw
