#include "report/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace gpsfw {
namespace {

constexpr mode_t kOutputFileMode = 0666;  // less the umask, as any created file

bool SameFile(const struct stat& output, const char* path) {
  struct stat other;
  return path != nullptr && ::stat(path, &other) == 0 && other.st_dev == output.st_dev &&
         other.st_ino == output.st_ino;
}

bool Spares(const struct stat& output, const char* const* spared, size_t sparedCount) {
  for (size_t i = 0; i < sparedCount; ++i) {
    if (SameFile(output, spared[i])) return true;
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

LogOpenResult OpenOutputFile(const char* path, const char* mode, const char* const* spared,
                             size_t sparedCount, std::FILE** stream) {
  *stream = nullptr;
  // Not truncated on open: whether the file may be truncated is known only once it is open.
  platform::UniqueFd fd(::open(
      path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, kOutputFileMode));
  if (!fd.Valid()) return Failed(fd);
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0) return Failed(fd);
  if (Spares(info, spared, sparedCount)) return LogOpenResult::kWouldOverwrite;
  if (!PrepareForWriting(fd.Get(), info)) return Failed(fd);
  *stream = ::fdopen(fd.Get(), mode);
  if (*stream == nullptr) return Failed(fd);
  fd.Release();
  return LogOpenResult::kOpened;
}

}  // namespace gpsfw
