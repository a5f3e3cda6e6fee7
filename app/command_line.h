#pragma once

#include <cstddef>

namespace gpsfw {

inline constexpr size_t kCommandLineBuffer = 256;
inline constexpr size_t kOptionBuffer = 256;

// Looks for "-x" (the lower-case letter first, then the upper-case one) at the start of the
// text or right behind a blank, and copies its value into `value`: leading blanks skipped,
// ended by a blank or a control character. False when the option is absent; an option at
// the end of the text has an empty value.
bool ExtractOption(const char* commandLine, char letter, char* value, size_t capacity);

// Joins the arguments with single blanks into `out`, cut to capacity - 1 bytes.
void JoinArguments(int argc, char** argv, char* out, size_t capacity);

}  // namespace gpsfw
