#pragma once

#include <cstdint>
#include <string>

namespace gpsfw::station {

// The image as the header and the report name it: its CRC-32 (the IEEE 802.3 polynomial of
// zip and PNG, over every byte of the file), so that an operator can compare it with the
// checksum of the release.
// The station flashes a private copy of the image, taken once at its start: the file named on
// the command line may be replaced while the station runs, and then no unit may receive an
// image that was never checked, under the checked one's name.
struct ImageFacts {
  std::string path;  // as named on the command line
  uint64_t size = 0;
  uint32_t crc32 = 0;
  std::string sha256;    // 64 lower-case hex digits
  std::string snapshot;  // the station's own copy, which every loader is given
  // The file on disk as it was copied, to notice a change.
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t mtimeNs = 0;
};

// Reads the image and, when `snapshotDir` is not empty, copies it there (read-only, 0400)
// while its checksums are taken from the very bytes copied. Throws std::runtime_error when
// the file cannot be read or the copy cannot be written.
ImageFacts ReadImageFacts(const std::string& path, const std::string& snapshotDir = "");
// True when the file at `facts.path` is no longer the one copied (replaced, rewritten, gone).
bool ImageChangedOnDisk(const ImageFacts& facts);

struct CheckRun {
  int status = -1;     // the loader's exit status: 0 accepted, 253 refused
  std::string output;  // what it printed, standard output and standard error together
};

// Runs `loader --check -i IMAGE -l LOG` with TMPDIR set, within a time bound, and collects
// what it printed. Throws std::runtime_error when the loader cannot be started.
CheckRun RunImageCheck(const std::string& loader, const std::string& image, const std::string& log,
                       const std::string& tmpDir);

}  // namespace gpsfw::station
