#include "report/progress_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "platform/unique_fd.h"
#include "report/observer.h"

namespace gpsfw {
namespace {

// Room for a message that holds the longest path the loader accepts; longer lines are cut.
constexpr size_t kConversionBuffer = 8192;
constexpr mode_t kLogFileMode = 0666;  // less the umask, as any created file

std::FILE* g_log = nullptr;

bool SameFile(const struct stat& log, const char* path) {
  struct stat other;
  return path != nullptr && ::stat(path, &other) == 0 && other.st_dev == log.st_dev &&
         other.st_ino == log.st_ino;
}

bool Spares(const struct stat& log, const char* const* spared, size_t sparedCount) {
  for (size_t i = 0; i < sparedCount; ++i) {
    if (SameFile(log, spared[i])) return true;
  }
  return false;
}

// Truncates a regular file only (a device such as /dev/null takes no truncation) and lets
// the writes block again.
bool PrepareForWriting(int fd, const struct stat& info) {
  if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

LogOpenResult Failed(platform::UniqueFd& fd) {
  const int error = errno;
  fd.Reset();
  errno = error;
  return LogOpenResult::kFailed;
}

}  // namespace

LogOpenResult OpenRunLog(const char* path, const char* const* spared, size_t sparedCount) {
  if (g_log != nullptr) std::fclose(g_log);
  g_log = nullptr;
  // Not truncated on open: whether the file may be truncated is known only once it is open.
  platform::UniqueFd fd(::open(
      path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, kLogFileMode));
  if (!fd.Valid()) return Failed(fd);
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0) return Failed(fd);
  if (Spares(info, spared, sparedCount)) return LogOpenResult::kWouldOverwrite;
  if (!PrepareForWriting(fd.Get(), info)) return Failed(fd);
  g_log = ::fdopen(fd.Get(), "wb");
  if (g_log == nullptr) return Failed(fd);
  fd.Release();
  return LogOpenResult::kOpened;
}

bool OpenProgressLog(const char* path) {
  return OpenRunLog(path, nullptr, 0) == LogOpenResult::kOpened;
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
