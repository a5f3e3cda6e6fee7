#pragma once

namespace gpsfw {

// Logs the version that follows the "$VER" tag and its separator at the start of `text`,
// as one line ending in a full stop. The text ends at its first control character (or byte
// from 0x80 up), which is cut in place. Returns the version text inside `text` as logged
// (without the full stop), or nullptr when the reply held none and nothing was logged.
const char* VersionReport(char* text);

}  // namespace gpsfw
