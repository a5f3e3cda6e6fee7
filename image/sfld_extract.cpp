#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "image/container_layout.h"
#include "image/sfld_loader.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace gpsfw {
namespace {

constexpr char kSfldTempName[] = "sfld_tmp.hex";
constexpr size_t kCopyBlock = 4096;  // a multiple of the word size
constexpr mode_t kTempFileMode = 0600;

bool ReadFully(int fd, uint8_t* buffer, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t got = pread(fd, buffer, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    size -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

bool WriteFully(int fd, const uint8_t* buffer, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, buffer, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    buffer += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool ReadWordAtOffset(int fd, off_t offset, uint32_t& word) {
  uint8_t bytes[kWordBytes];
  if (!ReadFully(fd, bytes, sizeof bytes, offset)) return false;
  word = LoadLE32(bytes);
  return true;
}

// A fixed name in a shared folder: another user may have planted a link or a file there.
// Remove it and create our own, never following a link.
int CreateFresh(const char* path) {
  if (unlink(path) != 0 && errno != ENOENT) return -1;
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTempFileMode);
}

// XOR of little-endian words; a last group of 1 to 3 bytes fills the low end of a word.
uint32_t XorWords(const uint8_t* bytes, size_t size) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + kWordBytes <= size; i += kWordBytes) sum ^= LoadLE32(&bytes[i]);
  uint8_t last[kWordBytes] = {0, 0, 0, 0};
  for (size_t k = 0; i + k < size; ++k) last[k] = bytes[i + k];
  return sum ^ LoadLE32(last);
}

bool CopyPayload(int image, off_t offset, uint64_t size, int out, uint32_t& sum) {
  uint8_t block[kCopyBlock];
  sum = 0;
  while (size > 0) {
    const size_t n = size < kCopyBlock ? static_cast<size_t>(size) : kCopyBlock;
    if (!ReadFully(image, block, n, offset) || !WriteFully(out, block, n)) return false;
    sum ^= XorWords(block, n);
    offset += static_cast<off_t>(n);
    size -= n;
  }
  return true;
}

// File offset of the SFLD tail, behind the FW checksum word; false without a FW header.
bool TailStart(int image, uint32_t& tailStart) {
  uint32_t fwStart = 0;
  uint32_t fwEnd = 0;
  if (!ReadWordAtOffset(image, kFwHeaderOffset, fwStart) || fwStart != FW_BASE) return false;
  if (!ReadWordAtOffset(image, kFwHeaderOffset + kWordBytes, fwEnd)) return false;
  tailStart = fwEnd - kSfldTailBias;
  return true;
}

}  // namespace

bool ExtractSfldTo(const char* imagePath, const char* outPath, SfldTail* tail) {
  SfldTail found{false, 0, 0, 0};
  if (tail != nullptr) *tail = found;
  platform::UniqueFd image(open(imagePath, O_RDONLY | O_CLOEXEC));
  uint32_t tailStart = 0;
  struct stat info;
  if (!image.Valid() || !TailStart(image.Get(), tailStart) || fstat(image.Get(), &info) != 0) {
    return false;
  }
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  // A tail too short to hold its checksum word counts as no tail.
  if (fileSize <= tailStart || fileSize - tailStart < kWordBytes) return false;
  found.payloadSize = fileSize - tailStart - kWordBytes;
  platform::UniqueFd out(CreateFresh(outPath));
  if (!out.Valid()) return false;
  if (!CopyPayload(image.Get(), tailStart, found.payloadSize, out.Get(), found.computed) ||
      !ReadWordAtOffset(image.Get(), static_cast<off_t>(fileSize - kWordBytes), found.stored)) {
    return false;
  }
  if (!image.Close() || !out.Close()) return false;
  found.present = true;
  if (tail != nullptr) *tail = found;
  return found.computed == found.stored;
}

bool SfldTempPath(char* out, size_t capacity) {
  char directory[kPathCapacity];
  platform::TempDirectory(directory, sizeof directory);
  const int length = std::snprintf(out, capacity, "%s%s", directory, kSfldTempName);
  return length > 0 && static_cast<size_t>(length) < capacity;
}

bool ExtractSfld(const wchar_t* imagePath) {
  char narrowPath[kPathCapacity];
  char tempPath[kPathCapacity];
  platform::NarrowFromWide(narrowPath, sizeof narrowPath, imagePath);
  if (!SfldTempPath(tempPath, sizeof tempPath)) return false;
  return ExtractSfldTo(narrowPath, tempPath, nullptr);
}

}  // namespace gpsfw
