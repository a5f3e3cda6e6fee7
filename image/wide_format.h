#pragma once

#include <cstdarg>
#include <cstddef>
#include <cwchar>

namespace gpsfw {

// swprintf that always leaves a terminated (possibly cut) text behind. Wide string
// arguments take %ls.
inline void FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
  if (capacity == 0) return;
  va_list args;
  va_start(args, format);
  const int length = std::vswprintf(out, capacity, format, args);
  va_end(args);
  if (length < 0) out[capacity - 1] = L'\0';
}

}  // namespace gpsfw
