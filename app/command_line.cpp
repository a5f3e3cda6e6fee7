#include "app/command_line.h"

#include <cctype>
#include <cstring>

namespace gpsfw {
namespace {

constexpr char kBlank = ' ';

bool EndsValue(unsigned char c) {
  return c <= static_cast<unsigned char>(kBlank);
}

// An option counts only where a word starts, so "-i /fw/gps-loader.bin" holds no "-l".
const char* FindOption(const char* text, char letter) {
  for (const char* p = text; p[0] != '\0'; ++p) {
    const bool wordStart = p == text || p[-1] == kBlank;
    if (wordStart && p[0] == '-' && p[1] == letter) return p;
  }
  return nullptr;
}

}  // namespace

bool ExtractOption(const char* commandLine, char letter, char* value, size_t capacity) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  const char* found = FindOption(commandLine, lower);
  if (found == nullptr) found = FindOption(commandLine, upper);
  if (found == nullptr) return false;
  const char* p = found + 2;
  while (*p == kBlank) ++p;
  size_t n = 0;
  while (n + 1 < capacity && !EndsValue(static_cast<unsigned char>(p[n]))) {
    value[n] = p[n];
    ++n;
  }
  if (capacity > 0) value[n] = '\0';
  return true;
}

void JoinArguments(int argc, char** argv, char* out, size_t capacity) {
  if (capacity == 0) return;
  size_t n = 0;
  for (int i = 1; i < argc; ++i) {
    if (i > 1 && n + 1 < capacity) out[n++] = kBlank;
    for (const char* p = argv[i]; *p != '\0' && n + 1 < capacity; ++p) out[n++] = *p;
  }
  out[n] = '\0';
}

}  // namespace gpsfw
