#pragma once

namespace gpsfw {

// `gpsfwload --show-state FILE [--json]`: the state on standard output, as "key: value"
// lines or as one JSON object; 0, or 1 with a message naming the file when it cannot be read.
int ShowState(const char* statePath, bool json);

}  // namespace gpsfw
