#include "platform/text.h"

#include <cstdint>

namespace gpsfw::platform {

size_t NarrowFromWide(char* out, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return 0;
  size_t n = 0;
  for (; n + 1 < capacity && text[n] != L'\0'; ++n) {
    const wchar_t c = text[n];
    // wchar_t is signed on x86 and unsigned on ARM: a negative one is far out of range too.
    const auto code = static_cast<uint32_t>(c);
    out[n] = code <= 0xFF ? static_cast<char>(static_cast<unsigned char>(code)) : '?';
  }
  out[n] = '\0';
  return n;
}

size_t WideFromNarrow(wchar_t* out, size_t capacity, const char* text) {
  if (capacity == 0) return 0;
  size_t n = 0;
  for (; n + 1 < capacity && text[n] != '\0'; ++n) {
    out[n] = static_cast<wchar_t>(static_cast<unsigned char>(text[n]));
  }
  out[n] = L'\0';
  return n;
}

}  // namespace gpsfw::platform
