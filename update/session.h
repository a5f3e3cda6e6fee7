#pragma once

#include "update/run_state.h"

namespace gpsfw {

// Wakes the boot loader and polls it until the flash stage has succeeded: true. False when
// the run's time to give up (RunState::giveUpAtUs) has come; the session looks at it only
// in its poll loop, between exchanges, so that it never leaves a record half answered.
bool RunSession(RunState& run);
// The wake sequence at 4800 and 57600 baud, each followed by four SYNC_CODE at 19200.
// Counts the run's wake-ups.
void WakeTarget(RunState& run);

}  // namespace gpsfw
