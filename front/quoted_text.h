#pragma once

#include <cstdio>

namespace gpsfw {

// Writes `text` between single quotes for a message on the console: control bytes shown as
// \xNN, so that a path or an argument cannot move the cursor or clear the screen, and
// anything past the first 200 bytes cut to "...".
void WriteQuoted(std::FILE* out, const char* text);

}  // namespace gpsfw
