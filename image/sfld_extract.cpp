#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "image/container_layout.h"
#include "image/sfld_loader.h"
#include "platform/file_open.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/unnamed_file.h"

namespace gpsfw {
namespace {

constexpr char kSfldTempName[] = "sfld_tmp.hex";
constexpr size_t kCopyBlock = 4096;  // a multiple of the word size

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

// The new file is written under a name of its own in the folder of the temporary SFLD file
// and then renamed over it in one step: another loader never sees it half-written, and a
// reader that holds a descriptor of an earlier file keeps reading that file's bytes.
class ScratchFile {
 public:
  ScratchFile() = default;
  ~ScratchFile() {
    // Closed first: Windows removes no file that is open without FILE_SHARE_DELETE.
    writing_.Reset();
    if (named_) ::unlink(name_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Created exclusively, mode 0600, beside `finalPath`.
  bool Create(const char* finalPath) {
    const int length = std::snprintf(name_, sizeof name_, "%s%s", finalPath, kScratchSuffix);
    if (length < 0 || static_cast<size_t>(length) >= sizeof name_) return false;
    writing_.Reset(::mkostemp(name_, O_CLOEXEC));
    named_ = writing_.Valid();
    return named_;
  }
  int WritingFd() const { return writing_.Get(); }

  // A descriptor for reading the finished file, the writing one closed (a write may fail
  // only at close), and the file renamed to `finalPath`. When the file at `finalPath` cannot
  // be replaced (in a sticky /tmp it may belong to another user, an earlier `sudo` run), the
  // copy is complete all the same and the descriptor still reads it: its name goes, the run
  // keeps it, and `replaceError` tells why the shared name was left alone.
  platform::UniqueFd Finish(const char* finalPath, int* replaceError) {
    platform::UniqueFd reading(platform::OpenReadingReplaceable(name_));
    if (!reading.Valid() || !writing_.Close()) return platform::UniqueFd();
    if (!platform::RenameReplacing(name_, finalPath)) {
      *replaceError = errno;
      writing_.Reset();
      ::unlink(name_);
    }
    named_ = false;
    return reading;
  }

 private:
  static constexpr char kScratchSuffix[] = ".XXXXXX";
  char name_[kPathCapacity + sizeof kScratchSuffix];
  platform::UniqueFd writing_;
  bool named_ = false;
};

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

namespace {

// The tail into `out`, its words summed and its stored checksum read.
bool CopyTail(int image, uint32_t tailStart, uint64_t fileSize, int out, SfldTail& found) {
  return CopyPayload(image, tailStart, found.payloadSize, out, found.computed) &&
         ReadWordAtOffset(image, static_cast<off_t>(fileSize - kWordBytes), found.stored);
}

// The copy beside `outPath`; an invalid descriptor with *tempError set when the folder
// cannot take it (missing, not writable, full).
platform::UniqueFd CopyToFolder(int image, uint32_t tailStart, uint64_t fileSize,
                                const char* outPath, SfldTail& found, int* notReplaced,
                                int* tempError) {
  ScratchFile out;
  errno = 0;
  if (!out.Create(outPath) || !CopyTail(image, tailStart, fileSize, out.WritingFd(), found)) {
    *tempError = errno != 0 ? errno : EIO;
    return platform::UniqueFd();
  }
  platform::UniqueFd written = out.Finish(outPath, notReplaced);
  if (!written.Valid()) *tempError = errno != 0 ? errno : EIO;
  return written;
}

// The run's own copy, without a name: the temporary folder could not take it.
platform::UniqueFd CopyUnnamed(int image, uint32_t tailStart, uint64_t fileSize, SfldTail& found) {
  platform::UniqueFd copy(platform::OpenUnnamedFile(kSfldTempName));
  if (!copy.Valid() || !CopyTail(image, tailStart, fileSize, copy.Get(), found) ||
      ::lseek(copy.Get(), 0, SEEK_SET) != 0) {
    return platform::UniqueFd();
  }
  return copy;
}

}  // namespace

bool ExtractSfldReading(const char* imagePath, const char* outPath, SfldTail* tail,
                        platform::UniqueFd* reading, int* replaceError, int* tempError) {
  int notReplaced = 0;
  int folderError = 0;
  if (replaceError != nullptr) *replaceError = 0;
  if (tempError != nullptr) *tempError = 0;
  SfldTail found{false, 0, 0, 0};
  if (tail != nullptr) *tail = found;
  platform::UniqueFd image(platform::OpenRegularFile(imagePath));
  uint32_t tailStart = 0;
  struct stat info;
  if (!image.Valid() || !TailStart(image.Get(), tailStart) || fstat(image.Get(), &info) != 0) {
    return false;
  }
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  // A tail too short to hold its checksum word counts as no tail.
  if (fileSize <= tailStart || fileSize - tailStart < kWordBytes) return false;
  found.payloadSize = fileSize - tailStart - kWordBytes;
  platform::UniqueFd written =
      CopyToFolder(image.Get(), tailStart, fileSize, outPath, found, &notReplaced, &folderError);
  // A folder that cannot take the copy is the folder's fault, not the image's: a run that
  // reads its own copy goes on without the shared file.
  if (!written.Valid() && reading != nullptr && tempError != nullptr) {
    written = CopyUnnamed(image.Get(), tailStart, fileSize, found);
  }
  if (tempError != nullptr) *tempError = folderError;
  if (!written.Valid()) return false;
  // Another reader of `outPath` could not get this copy: the run alone may use it.
  if (notReplaced != 0 && reading == nullptr) return false;
  if (replaceError != nullptr) *replaceError = notReplaced;
  found.present = true;
  if (tail != nullptr) *tail = found;
  if (reading != nullptr) *reading = std::move(written);
  return found.computed == found.stored;
}

bool ExtractSfldTo(const char* imagePath, const char* outPath, SfldTail* tail) {
  return ExtractSfldReading(imagePath, outPath, tail, nullptr);
}

bool SfldTempPath(char* out, size_t capacity) {
  char directory[kPathCapacity];
  platform::TempDirectory(directory, sizeof directory);
  const int length = std::snprintf(out, capacity, "%s%s", directory, kSfldTempName);
  return length > 0 && static_cast<size_t>(length) < capacity;
}

bool ExtractSfld(const wchar_t* imagePath, const char* tempPath, platform::UniqueFd* reading,
                 int* replaceError, int* tempError) {
  char narrowPath[kPathCapacity];
  platform::NarrowFromWide(narrowPath, sizeof narrowPath, imagePath);
  return ExtractSfldReading(narrowPath, tempPath, nullptr, reading, replaceError, tempError);
}

}  // namespace gpsfw
