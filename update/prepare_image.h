#pragma once

#include "update/run_state.h"

namespace gpsfw {

// Loads the SFLD into run.sfld, opens and checks the firmware image in run.firmware, decides
// run.pfldMode. True when everything the session will send is at hand; then run.prepared
// holds what was found, both stages' records counted once.
bool PrepareImage(RunState& run, const wchar_t* imagePath);

}  // namespace gpsfw
