#pragma once

#include "update/run_state.h"

namespace gpsfw {

enum class VersionSource { kBootLoader, kSfld };

// Keeps what a reply told of the receiver in the run and tells the observer. A null `text`
// (a reply that held no version) changes nothing.
void NoteVersion(RunState& run, VersionSource source, const char* text);
void NoteFlashType(RunState& run, int type);

}  // namespace gpsfw
