#include "image/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace gpsfw {
namespace {

int Refuse(int error) {
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
  platform::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) return -1;
  struct stat opened;
  if (::fstat(fd.Get(), &opened) != 0) return -1;
  if (!S_ISREG(opened.st_mode)) return Refuse(EINVAL);
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
  return fd.Release();
}

}  // namespace gpsfw
