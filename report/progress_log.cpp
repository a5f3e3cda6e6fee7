#include "report/progress_log.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "report/observer.h"
#include "report/output_file.h"

namespace gpsfw {
namespace {

// Room for a message that holds the longest path the loader accepts; longer lines are cut.
constexpr size_t kConversionBuffer = 8192;

std::FILE* g_log = nullptr;
// A log whose lines reach the observer only (--check without -l): no file is written.
bool g_unwritten = false;

bool LogIsOpen() {
  return g_log != nullptr || g_unwritten;
}

}  // namespace

LogOpenResult OpenRunLog(const char* path, const char* const* spared, size_t sparedCount) {
  if (g_log != nullptr) std::fclose(g_log);
  g_log = nullptr;
  g_unwritten = false;
  return OpenOutputFile(path, "wb", spared, sparedCount, &g_log);
}

bool OpenProgressLog(const char* path) {
  return OpenRunLog(path, nullptr, 0) == LogOpenResult::kOpened;
}

void OpenUnwrittenLog() {
  if (g_log != nullptr) std::fclose(g_log);
  g_log = nullptr;
  g_unwritten = true;
}

bool ProgressLogIsOpen() {
  return LogIsOpen();
}

void FlushProgressLog() {
  if (g_log != nullptr) std::fflush(g_log);
}

void CloseProgressLog(int returnCode) {
  g_unwritten = false;
  if (g_log == nullptr) return;
  std::fprintf(g_log, "RetCode: %d\r\n", returnCode);
  std::fclose(g_log);
  g_log = nullptr;
}

void LogWide(const wchar_t* text) {
  if (!LogIsOpen()) return;
  char line[kConversionBuffer];
  std::memset(line, 0, sizeof line);
  platform::NarrowFromWide(line, sizeof line, text);
  if (g_log != nullptr) {
    std::fprintf(g_log, "%s\r\n", line);
    std::fflush(g_log);
  }
  Observe().OnLogLine(line);
}

void LogNarrow(const char* text) {
  if (!LogIsOpen()) return;
  if (g_log != nullptr) std::fprintf(g_log, "%s\r\n", text);
  Observe().OnLogLine(text);
}

int ReportMessage(const wchar_t* text, const wchar_t* /*caption*/, int style) {
  if (style == kMessageError) LogWide(text);
  return 1;
}

}  // namespace gpsfw
