#include "image/sfld_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/wide_format.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "report/failure_reason.h"
#include "report/progress_log.h"

namespace gpsfw {
namespace {

constexpr const char* kSfldFallbackNames[kSfldFallbacks] = {"sfld.hex",
                                                            "../share/gpsfwload/sfld.hex"};
constexpr size_t kMessageCapacity = kPathCapacity + 32;

// False when the joined path does not fit; `out` then holds as much of it as fits.
bool JoinPath(char* out, size_t capacity, const char* directory, const char* name) {
  const int length = std::snprintf(out, capacity, "%s", directory);
  if (length < 0 || static_cast<size_t>(length) >= capacity) return false;
  const size_t used = static_cast<size_t>(length);
  return static_cast<size_t>(std::snprintf(out + used, capacity - used, "%s", name)) <
         capacity - used;
}

void LogCannotOpen(const char* path) {
  wchar_t widePath[kPathCapacity];
  platform::WideFromNarrow(widePath, kPathCapacity, path);
  wchar_t message[kMessageCapacity];
  FormatWide(message, kMessageCapacity, L"Can not open '%ls'", widePath);
  LogWide(message);
}

// The folder is the user's to fix; the image is fine and the update goes on.
void TellTempUnusable(const char* tempPath, int error) {
  const char* tmpdir = std::getenv("TMPDIR");
  ReportWarning(MakeReason("sfld_temp_unusable",
                           "the image's SFLD cannot be copied to %s (TMPDIR %s%s: %s); the "
                           "update reads a copy that has no name",
                           tempPath, tmpdir != nullptr ? "is " : "is unset",
                           tmpdir != nullptr ? tmpdir : "", std::strerror(error)));
}

}  // namespace

void ProgramDirectory(char* out, size_t capacity) {
  char path[kPathCapacity];
  platform::ModuleFileName(path, sizeof path);
  const size_t length = std::strlen(path);
  // The first character is never taken as the separator: a program in the root keeps "/".
  size_t keep = length == 0 ? 0 : 1;
  for (size_t i = length; i-- > 1;) {
    if (path[i] == '/') {
      keep = i + 1;
      break;
    }
  }
  path[keep] = '\0';
  std::snprintf(out, capacity, "%s", path);
}

bool SfldFallbackPath(size_t which, char* out, size_t capacity) {
  if (which >= kSfldFallbacks) return false;
  char directory[kPathCapacity];
  ProgramDirectory(directory, sizeof directory);
  return JoinPath(out, capacity, directory, kSfldFallbackNames[which]);
}

namespace {

// The tail just extracted, read through the descriptor of the file this run wrote.
bool OpenExtracted(SRecReader& reader, platform::UniqueFd& extracted) {
  return reader.Adopt(extracted.Release());
}

// `first` receives the first fallback path, the one a failure names; once a file opens, the
// path of that file.
bool OpenFallback(SRecReader& reader, char* first, size_t capacity) {
  const bool fits = SfldFallbackPath(0, first, capacity);
  if (fits && reader.Open(first)) return true;
  char path[kPathCapacity];
  for (size_t which = 1; which < kSfldFallbacks; ++which) {
    if (SfldFallbackPath(which, path, sizeof path) && reader.Open(path)) {
      std::snprintf(first, capacity, "%s", path);
      return true;
    }
  }
  return false;
}

}  // namespace

bool LoadSfld(const wchar_t* imagePath, SRecReader& reader, SfldOrigin* origin) {
  LogWide(L"Opening SFLD ...");
  char tempPath[kPathCapacity];
  platform::UniqueFd extracted;
  int notReplaced = 0;
  int tempError = 0;
  const bool found = SfldTempPath(tempPath, sizeof tempPath) &&
                     ExtractSfld(imagePath, tempPath, &extracted, &notReplaced, &tempError);
  char path[kPathCapacity];
  bool opened = false;
  if (found) {
    LogWide(L"SFLD section found");
    std::snprintf(path, sizeof path, "%s", tempPath);
    opened = OpenExtracted(reader, extracted);
  } else {
    LogWide(L"SFLD section skipped");
    opened = OpenFallback(reader, path, sizeof path);
  }
  if (found && tempError != 0) TellTempUnusable(tempPath, tempError);
  if (origin != nullptr) {
    origin->fromTail = found;
    origin->notReplaced = found ? notReplaced : 0;
    origin->tempError = found ? tempError : 0;
    std::snprintf(origin->path, sizeof origin->path, "%s", path);
  }
  if (!opened) {
    LogCannotOpen(path);
    return false;
  }
  if (!reader.Scan()) {
    LogWide(L"Incorrect SFLD.");
    return false;
  }
  LogWide(L"Complete");
  return true;
}

}  // namespace gpsfw
