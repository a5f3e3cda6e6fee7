#include "report/output_file.h"

#include <cerrno>

#include "platform/file_open.h"
#include "platform/unique_fd.h"

namespace gpsfw {

namespace {

LogOpenResult OpenStream(const char* path, const char* mode, const char* const* spared,
                         size_t sparedCount, std::FILE** stream, long* holder) {
  *stream = nullptr;
  bool isSpared = false;
  platform::UniqueFd fd(
      holder != nullptr
          ? platform::OpenHeldOutputDescriptor(path, spared, sparedCount, &isSpared, holder)
          : platform::OpenOutputDescriptor(path, spared, sparedCount, &isSpared));
  if (isSpared) return LogOpenResult::kWouldOverwrite;
  if (!fd.Valid()) {
    const bool held = holder != nullptr && *holder != platform::kNotHeld;
    return held ? LogOpenResult::kHeld : LogOpenResult::kFailed;
  }
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

}  // namespace

LogOpenResult OpenOutputFile(const char* path, const char* mode, const char* const* spared,
                             size_t sparedCount, std::FILE** stream) {
  return OpenStream(path, mode, spared, sparedCount, stream, nullptr);
}

LogOpenResult OpenHeldOutputFile(const char* path, const char* mode, const char* const* spared,
                                 size_t sparedCount, std::FILE** stream, long* holder) {
  long held = platform::kNotHeld;
  const LogOpenResult result = OpenStream(path, mode, spared, sparedCount, stream, &held);
  if (holder != nullptr) *holder = held;
  return result;
}

bool RefusedAsSymbolicLink(int error) {
  return error == ELOOP || error == EMLINK;
}

}  // namespace gpsfw
