#include "update/version_report.h"

#include <cstring>
#include <cwchar>

#include "platform/text.h"
#include "report/progress_log.h"

namespace gpsfw {
namespace {

constexpr size_t kMinimumText = 6;
constexpr size_t kTagAndSeparator = 5;  // "$VER" and one blank
constexpr size_t kLineCapacity = 256;
// Room for the text, the full stop and the terminator.
constexpr size_t kMaxVersionText = kLineCapacity - 2;

void CutAtFirstControlCharacter(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (static_cast<signed char>(*p) < 0x20) {
      *p = '\0';
      return;
    }
  }
}

}  // namespace

const char* VersionReport(char* text) {
  if (std::strlen(text) < kMinimumText) return nullptr;
  CutAtFirstControlCharacter(text);
  // A reply cut inside its tag carries no version at all.
  if (std::strlen(text) < kTagAndSeparator) return nullptr;
  wchar_t version[kMaxVersionText + 1];
  platform::WideFromNarrow(version, sizeof version / sizeof version[0], text + kTagAndSeparator);
  wchar_t line[kLineCapacity];
  std::swprintf(line, kLineCapacity, L"%ls.", version);
  LogWide(line);
  return text + kTagAndSeparator;
}

}  // namespace gpsfw
