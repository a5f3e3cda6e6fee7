#include "report/output_file.h"

#include <cerrno>

#include "platform/file_open.h"
#include "platform/unique_fd.h"

namespace gpsfw {

LogOpenResult OpenOutputFile(const char* path, const char* mode, const char* const* spared,
                             size_t sparedCount, std::FILE** stream) {
  *stream = nullptr;
  bool isSpared = false;
  platform::UniqueFd fd(platform::OpenOutputDescriptor(path, spared, sparedCount, &isSpared));
  if (isSpared) return LogOpenResult::kWouldOverwrite;
  if (!fd.Valid()) return LogOpenResult::kFailed;
  *stream = ::fdopen(fd.Get(), mode);
  if (*stream == nullptr) {
    const int error = errno;
    fd.Reset();
    errno = error;
    return LogOpenResult::kFailed;
  }
  fd.Release();
  return LogOpenResult::kOpened;
}

bool RefusedAsSymbolicLink(int error) {
  return error == ELOOP || error == EMLINK;
}

}  // namespace gpsfw
