#pragma once

#include <map>
#include <string>

#include "report/receiver_identity.h"

namespace gpsfw {

// What a device's receiver runs, for the update systems of a fleet: after a completed update
// `--state FILE` records the image (name, size, CRC-32, SHA-256), the receiver's identity, the
// time and the loader's version, keeps the state before as previous.*, and keeps a copy of
// both images in FILE.d/ so that the update before can be flashed again. The file is lines of
// key=value; it is replaced in one step, and never names a copy that is not there.
using StateFields = std::map<std::string, std::string>;

// The fields of one kept state the run knows: the fields of the image itself are read from
// the file again.
struct CompletedImage {
  const char* imagePath;
  const ReceiverIdentity* identity;
  // False records that the run's progress log lost lines (log_complete=false).
  bool logComplete;
  const char* loaderVersion;
};

// The fields of one installed image, in the order the file and the views give them.
inline constexpr const char* kStateFields[] = {
    "image",      "size", "crc32",          "sha256",     "boot_loader", "sfld",
    "flash_type", "time", "loader_version", "image_copy", "log_complete"};

// False with the reason in `why` (naming the file and the system's error) when the state
// cannot be written; the state before is then left as it was.
bool WriteInstalledState(const char* statePath, const CompletedImage& completed, std::string& why);

// The fields of a state file; false when it cannot be read.
bool ReadStateFile(const char* statePath, StateFields& fields);

}  // namespace gpsfw
