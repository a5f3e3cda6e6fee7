#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/paths.h"
#include "report/progress_log.h"

namespace gpsfw::fuzz {

// A private directory for the whole fuzzing process; each input goes to one file in it.
// The progress log goes to /dev/null so that the log formatting runs as well.
class FuzzFiles {
 public:
  FuzzFiles() {
    char base[4096];
    platform::TempDirectory(base, sizeof base);
    dir_ = std::string(base) + "gpsfw-fuzz-XXXXXX";
    if (mkdtemp(dir_.data()) == nullptr) abort();
    setenv("TMPDIR", dir_.c_str(), 1);
    OpenProgressLog("/dev/null");
  }
  std::string File(const char* name) const { return dir_ + "/" + name; }

  std::string Write(const char* name, const uint8_t* data, size_t size) const {
    const std::string path = File(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
    std::fclose(file);
    return path;
  }

 private:
  std::string dir_;
};

inline FuzzFiles& Files() {
  static FuzzFiles files;
  return files;
}

// Enough packets for any input the fuzzer makes; a reader that never ends is a finding.
inline constexpr int kMaxPackets = 1 << 16;

}  // namespace gpsfw::fuzz
