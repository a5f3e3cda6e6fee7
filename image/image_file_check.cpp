#include "image/image_file_check.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "image/container_check.h"
#include "image/container_layout.h"

namespace gpsfw {

bool ImageFileUsable(const char* path, FailureReason* why) {
  struct stat info {};
  if (::stat(path, &info) != 0) {
    const int error = errno;
    *why = MakeReason(error == ENOENT ? "image_not_found" : "image_unreadable", "%s",
                      std::strerror(error));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = MakeReason("image_not_regular", "not a regular file (a directory, device or FIFO)");
    return false;
  }
  if (info.st_size == 0) {
    *why = MakeReason("image_empty", "the file is empty");
    return false;
  }
  return true;
}

bool ImageCarriesSfldTail(const char* path) {
  std::FILE* stream = std::fopen(path, "rb");
  if (stream == nullptr) return false;
  uint32_t fwStart = 0;
  uint32_t fwEnd = 0;
  bool carries = false;
  if (ReadWordAt(stream, kFwHeaderOffset, fwStart) && fwStart == FW_BASE &&
      ReadWord(stream, fwEnd) && std::fseek(stream, 0, SEEK_END) == 0) {
    const long size = std::ftell(stream);
    const long tailStart = static_cast<long>(fwEnd - kSfldTailBias);
    carries = size > tailStart && size - tailStart >= static_cast<long>(kWordBytes);
  }
  std::fclose(stream);
  return carries;
}

bool BinaryImageCutShort(const char* path, FailureReason* why) {
  std::FILE* stream = std::fopen(path, "rb");
  if (stream == nullptr) return false;
  uint32_t fwStart = 0;
  uint32_t fwEnd = 0;
  long needed = 0;
  long size = 0;
  if (ReadWordAt(stream, kFwHeaderOffset, fwStart) && fwStart == FW_BASE &&
      ReadWord(stream, fwEnd) && fwEnd > FW_BASE && std::fseek(stream, 0, SEEK_END) == 0) {
    size = std::ftell(stream);
    // The FW's words and its checksum word behind them.
    needed = static_cast<long>(kFwSectionOffset + (fwEnd - FW_BASE) / kWordBytes * kWordBytes +
                               kWordBytes);
  }
  std::fclose(stream);
  if (size <= 0 || size >= needed) return false;
  *why = CutShortReason("FW", size, needed);
  return true;
}

}  // namespace gpsfw
