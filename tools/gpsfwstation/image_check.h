#pragma once

#include <cstdint>
#include <string>

namespace gpsfw::station {

// The image as the header and the report name it: its CRC-32 (the IEEE 802.3 polynomial of
// zip and PNG, over every byte of the file), so that an operator can compare it with the
// checksum of the release.
struct ImageFacts {
  std::string path;
  uint64_t size = 0;
  uint32_t crc32 = 0;
};

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// Throws std::runtime_error when the file cannot be read.
ImageFacts ReadImageFacts(const std::string& path);

struct CheckRun {
  int status = -1;     // the loader's exit status: 0 accepted, 253 refused
  std::string output;  // what it printed, standard output and standard error together
};

// Runs `loader --check -i IMAGE -l LOG` with TMPDIR set, within a time bound, and collects
// what it printed. Throws std::runtime_error when the loader cannot be started.
CheckRun RunImageCheck(const std::string& loader, const std::string& image, const std::string& log,
                       const std::string& tmpDir);

}  // namespace gpsfw::station
