#include "platform/win32/win32_text.h"

#include <windows.h>

#include <cstring>

#include "platform/text.h"

// Windows' 8-bit text is the ANSI code page (CP_ACP): the log, file and port names all use it.

namespace gpsfw::platform {
namespace {

int ConvertibleWideLength(const char* text, int bytes) {
  return ::MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
}

// The most whole characters of `text` that fit, when the whole does not.
size_t NarrowPrefix(char* out, size_t capacity, const wchar_t* text) {
  size_t used = 0;
  for (const wchar_t* c = text; *c != L'\0';) {
    const int units = IS_HIGH_SURROGATE(c[0]) && IS_LOW_SURROGATE(c[1]) ? 2 : 1;
    char bytes[2 * kMaxAnsiBytesPerUnit];
    const int n = ::WideCharToMultiByte(CP_ACP, 0, c, units, bytes, sizeof bytes, nullptr, nullptr);
    if (n <= 0 || used + static_cast<size_t>(n) + 1 > capacity) break;
    std::memcpy(out + used, bytes, static_cast<size_t>(n));
    used += static_cast<size_t>(n);
    c += units;
  }
  out[used] = '\0';
  return used;
}

// The longest byte prefix of `text` whose wide form fits, when the whole does not. A
// double-byte character cut in two ends the text as one replacement character.
size_t WidePrefix(wchar_t* out, size_t capacity, const char* text) {
  size_t fitting = 0;
  size_t tooLong = std::strlen(text);
  while (fitting + 1 < tooLong) {
    const size_t middle = fitting + (tooLong - fitting) / 2;
    const int n = ConvertibleWideLength(text, static_cast<int>(middle));
    if (n > 0 && static_cast<size_t>(n) < capacity) {
      fitting = middle;
    } else {
      tooLong = middle;
    }
  }
  int n = 0;
  if (fitting > 0) {
    n = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(fitting), out,
                              static_cast<int>(capacity - 1));
  }
  out[n] = L'\0';
  return static_cast<size_t>(n);
}

}  // namespace

size_t NarrowFromWide(char* out, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return 0;
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed > 0 && static_cast<size_t>(needed) <= capacity) {
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, out, needed, nullptr, nullptr);
    return static_cast<size_t>(needed - 1);
  }
  return NarrowPrefix(out, capacity, text);
}

size_t WideFromNarrow(wchar_t* out, size_t capacity, const char* text) {
  if (capacity == 0) return 0;
  const int needed = ConvertibleWideLength(text, -1);
  if (needed > 0 && static_cast<size_t>(needed) <= capacity) {
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, out, needed);
    return static_cast<size_t>(needed - 1);
  }
  return WidePrefix(out, capacity, text);
}

bool NarrowExactly(char* out, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return false;
  out[0] = '\0';
  // UTF-8 has a form for every character, and refuses the flags that ask for exactness.
  const bool utf8 = ::GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  const int n = ::WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                      text, -1, out, static_cast<int>(capacity), nullptr,
                                      utf8 ? nullptr : &usedDefault);
  if (n > 0 && !usedDefault) return true;
  out[0] = '\0';
  return false;
}

}  // namespace gpsfw::platform
