#include "platform/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace gpsfw::platform {
namespace {

constexpr mode_t kOutputFileMode = 0666;  // less the umask, as any created file

int Refuse(int error) {
  errno = error;
  return -1;
}

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

// -1 with the errno of the failure, whatever closing the descriptor does to errno.
int Failed(UniqueFd& fd) {
  const int error = errno;
  fd.Reset();
  errno = error;
  return -1;
}

}  // namespace

int OpenRegularFile(const char* path) {
  struct stat named;
  if (::stat(path, &named) != 0) return -1;
  if (!S_ISREG(named.st_mode)) return Refuse(EINVAL);
  // The name may have been replaced since stat(): O_NONBLOCK keeps even a FIFO put there in
  // the meantime from holding up the open, and fstat() tells what was opened.
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) return -1;
  struct stat opened;
  if (::fstat(fd.Get(), &opened) != 0) return -1;
  if (!S_ISREG(opened.st_mode)) return Refuse(EINVAL);
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
  return fd.Release();
}

namespace {

// `holder` nullptr: the file is not held.
int OpenOutput(const char* path, const char* const* spared, size_t sparedCount, bool* isSpared,
               long* holder) {
  *isSpared = false;
  if (holder != nullptr) *holder = kNotHeld;
  // Not truncated on open: whether the file may be truncated is known only once it is open.
  UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                     kOutputFileMode));
  if (!fd.Valid()) return Failed(fd);
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0) return Failed(fd);
  if (Spares(info, spared, sparedCount)) {
    *isSpared = true;
    return -1;
  }
  // A device (/dev/null) is shared by every run; only a file of its own is held.
  if (holder != nullptr && S_ISREG(info.st_mode) && !LockForWriting(fd.Get(), holder)) {
    return Failed(fd);
  }
  if (!PrepareForWriting(fd.Get(), info)) return Failed(fd);
  return fd.Release();
}

}  // namespace

int OpenOutputDescriptor(const char* path, const char* const* spared, size_t sparedCount,
                         bool* isSpared) {
  return OpenOutput(path, spared, sparedCount, isSpared, nullptr);
}

int OpenHeldOutputDescriptor(const char* path, const char* const* spared, size_t sparedCount,
                             bool* isSpared, long* holder) {
  return OpenOutput(path, spared, sparedCount, isSpared, holder);
}

}  // namespace gpsfw::platform
