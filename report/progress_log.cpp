#include "report/progress_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "report/observer.h"
#include "report/output_file.h"

namespace gpsfw {
namespace {

// Room for a message that holds the longest path the loader accepts; longer lines are cut.
constexpr size_t kConversionBuffer = 8192;
// The log's name as given, for the message that says it is incomplete.
constexpr size_t kLogNameCapacity = 4096;

std::FILE* g_log = nullptr;
// A log whose lines reach the observer only (--check without -l): no file is written.
bool g_unwritten = false;
char g_logName[kLogNameCapacity] = {};
// errno of the first write the log lost in this run; 0 while every line reached the file.
int g_lostError = 0;

bool LogIsOpen() {
  return g_log != nullptr || g_unwritten;
}

void Forget() {
  if (g_log != nullptr) std::fclose(g_log);
  g_log = nullptr;
  g_unwritten = false;
  g_lostError = 0;
}

// A full disk or a failing device: said once, at once, through the observer; the run goes
// on, and later lines are still tried, so that the last line can still reach the file.
void NoteWrite(bool written) {
  if (written && std::ferror(g_log) == 0) return;
  const int error = errno != 0 ? errno : EIO;
  std::clearerr(g_log);
  if (g_lostError != 0) return;
  g_lostError = error;
  Observe().OnOutputLost(LostOutput::kLog, g_logName, error);
}

}  // namespace

LogOpenResult OpenRunLog(const char* path, const char* const* spared, size_t sparedCount,
                         long* holder) {
  Forget();
  std::snprintf(g_logName, sizeof g_logName, "%s", path);
  return OpenHeldOutputFile(path, "wb", spared, sparedCount, &g_log, holder);
}

bool OpenProgressLog(const char* path) {
  return OpenRunLog(path, nullptr, 0, nullptr) == LogOpenResult::kOpened;
}

void OpenUnwrittenLog() {
  Forget();
  g_unwritten = true;
}

bool ProgressLogIsOpen() {
  return LogIsOpen();
}

bool ProgressLogComplete() {
  return g_lostError == 0;
}

void FlushProgressLog() {
  if (g_log != nullptr) NoteWrite(std::fflush(g_log) == 0);
}

void CloseProgressLog(int returnCode) {
  g_unwritten = false;
  if (g_log == nullptr) return;
  errno = 0;
  NoteWrite(std::fprintf(g_log, "RetCode: %d\r\n", returnCode) > 0 && std::fflush(g_log) == 0);
  std::FILE* log = g_log;
  g_log = nullptr;
  if (std::fclose(log) != 0 && g_lostError == 0) {
    g_lostError = errno != 0 ? errno : EIO;
    Observe().OnOutputLost(LostOutput::kLog, g_logName, g_lostError);
  }
}

void LogWide(const wchar_t* text) {
  if (!LogIsOpen()) return;
  char line[kConversionBuffer];
  std::memset(line, 0, sizeof line);
  platform::NarrowFromWide(line, sizeof line, text);
  if (g_log != nullptr) {
    errno = 0;
    NoteWrite(std::fprintf(g_log, "%s\r\n", line) >= 0 && std::fflush(g_log) == 0);
  }
  Observe().OnLogLine(line);
}

void LogNarrow(const char* text) {
  if (!LogIsOpen()) return;
  if (g_log != nullptr) {
    errno = 0;
    NoteWrite(std::fprintf(g_log, "%s\r\n", text) >= 0);
  }
  Observe().OnLogLine(text);
}

int ReportMessage(const wchar_t* text, const wchar_t* /*caption*/, int style) {
  if (style == kMessageError) LogWide(text);
  return 1;
}

}  // namespace gpsfw
