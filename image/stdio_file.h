#pragma once

#include <sys/stat.h>

#include <cstdio>

namespace gpsfw {

// Owns one buffered stream of the standard library and closes it when it goes out of scope.
class StdioFile {
 public:
  StdioFile() = default;
  ~StdioFile() { Close(); }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  // Opens `path` with an fopen mode ("e" is added: the descriptor is not inherited). A
  // directory is refused: it opens as a stream on Linux but holds no image.
  bool Open(const char* path, const char* mode) {
    Close();
    char fullMode[8];
    std::snprintf(fullMode, sizeof fullMode, "%se", mode);
    stream_ = std::fopen(path, fullMode);
    if (stream_ == nullptr) return false;
    struct stat info;
    if (fstat(fileno(stream_), &info) != 0 || S_ISDIR(info.st_mode)) {
      Close();
      return false;
    }
    return true;
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
