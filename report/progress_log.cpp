#include "report/progress_log.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "report/observer.h"

namespace gpsfw {
namespace {

constexpr size_t kConversionBuffer = 512;

std::FILE* g_log = nullptr;

}  // namespace

bool OpenProgressLog(const char* path) {
  if (g_log != nullptr) std::fclose(g_log);
  g_log = std::fopen(path, "wbe");
  return g_log != nullptr;
}

bool ProgressLogIsOpen() {
  return g_log != nullptr;
}

void FlushProgressLog() {
  if (g_log != nullptr) std::fflush(g_log);
}

void CloseProgressLog(int returnCode) {
  if (g_log == nullptr) return;
  std::fprintf(g_log, "RetCode: %d\r\n", returnCode);
  std::fclose(g_log);
  g_log = nullptr;
}

void LogWide(const wchar_t* text) {
  if (g_log == nullptr) return;
  char line[kConversionBuffer];
  std::memset(line, 0, sizeof line);
  platform::NarrowFromWide(line, sizeof line, text);
  std::fprintf(g_log, "%s\r\n", line);
  std::fflush(g_log);
  Observe().OnLogLine(line);
}

void LogNarrow(const char* text) {
  if (g_log == nullptr) return;
  std::fprintf(g_log, "%s\r\n", text);
  Observe().OnLogLine(text);
}

int ReportMessage(const wchar_t* text, const wchar_t* /*caption*/, int style) {
  if (style == kMessageError) LogWide(text);
  return 1;
}

}  // namespace gpsfw
