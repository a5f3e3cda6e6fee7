#pragma once

#include "update/run_state.h"

namespace gpsfw {

// Loads the SFLD, opens and checks the firmware image, decides PfldMode. True when
// everything the session will send is at hand; then run.prepared holds what was found,
// both stages' records counted once.
bool PrepareImage(RunState& run, const wchar_t* imagePath);
// The same for a run of its own, whose facts are not kept.
bool PrepareImage(const wchar_t* imagePath);

}  // namespace gpsfw
