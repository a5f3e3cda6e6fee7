#pragma once

#include <cstdio>

#include "front/run_facts.h"

namespace gpsfw {

// --reason-file: for a script that reads no JSON, a failed run's reason as one line, the
// code, a blank and the message, as the "done" event gives them; a line break in the
// message becomes a blank. Nothing for a run that succeeded or has no reason. False when
// the line could not be written.
bool WriteReasonLine(std::FILE* out, int returnCode, const RunFacts& facts);

}  // namespace gpsfw
