#pragma once

#include <unistd.h>

#include <cstdio>

#include "platform/file_open.h"

namespace gpsfw {

// Owns one buffered stream of the standard library, read from an image or SFLD file, and
// closes it when it goes out of scope.
class StdioFile {
 public:
  StdioFile() = default;
  ~StdioFile() { Close(); }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  // Opens the regular file `path` for reading with the fopen mode "r" or "rb" (the same on
  // POSIX). A FIFO, a device or a directory is refused at once (OpenRegularFile).
  bool Open(const char* path, const char* mode) {
    Close();
    const int fd = platform::OpenRegularFile(path);
    return fd >= 0 && Adopt(fd, mode);
  }

  // Takes over the descriptor `fd`, open for reading, as a stream from its current offset.
  // The descriptor is closed when the stream is, or at once when no stream can be made.
  bool Adopt(int fd, const char* mode) {
    Close();
    stream_ = ::fdopen(fd, mode);
    if (stream_ == nullptr) ::close(fd);
    return stream_ != nullptr;
  }

  void Close() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
  }

  bool IsOpen() const { return stream_ != nullptr; }
  std::FILE* Get() const { return stream_; }

  // Back to the first byte, with the end and error flags cleared.
  void ToStart() {
    if (stream_ != nullptr) std::rewind(stream_);
  }

 private:
  std::FILE* stream_ = nullptr;
};

}  // namespace gpsfw
