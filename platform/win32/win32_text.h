#pragma once

#include <cstddef>

namespace gpsfw::platform {

// Longest 8-bit form of one UTF-16 unit in any ANSI code page: two bytes in a double-byte
// page, three in UTF-8.
inline constexpr size_t kMaxAnsiBytesPerUnit = 3;

// `text` in the ANSI code page, whole and exact: false, with `out` empty, when it does not
// fit or when a character has no form there (no '?' and no look-alike stands in for it, as
// a file name changed so names another file).
bool NarrowExactly(char* out, size_t capacity, const wchar_t* text);

}  // namespace gpsfw::platform
