#include "image/sfld_loader.h"

#include <cstdio>
#include <cstring>

#include "image/image_objects.h"
#include "image/wide_format.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "report/observer.h"
#include "report/progress_log.h"

namespace gpsfw {
namespace {

constexpr char kSfldFileName[] = "sfld.hex";
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

bool LoadSfld(const wchar_t* imagePath) {
  LogWide(L"Opening SFLD ...");
  char directory[kPathCapacity];
  ProgramDirectory(directory, sizeof directory);
  char path[kPathCapacity];
  bool pathFits = true;
  const bool fromTail = ExtractSfld(imagePath);
  if (fromTail) {
    LogWide(L"SFLD section found");
    pathFits = SfldTempPath(path, sizeof path);
  } else {
    LogWide(L"SFLD section skipped");
    pathFits = JoinPath(path, sizeof path, directory, kSfldFileName);
  }
  if (pathFits) Observe().OnSfldSource(fromTail, path);
  SRecReader& reader = SfldReader();
  if (!pathFits || !reader.Open(path)) {
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
