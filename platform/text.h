#pragma once

#include <cstddef>

namespace gpsfw::platform {

// The loader's code page: byte b is wide character b and back, so that any path round-trips
// unchanged whatever the locale. Wide characters above 0xFF become '?'.
// Both convert up to and including the terminator, never writing more than `capacity`
// elements; the result is always terminated when capacity > 0. They return the number of
// characters written before the terminator.
size_t NarrowFromWide(char* out, size_t capacity, const wchar_t* text);
size_t WideFromNarrow(wchar_t* out, size_t capacity, const char* text);

}  // namespace gpsfw::platform
