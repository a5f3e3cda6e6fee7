#include "front/spared_files.h"

#include <cstring>

namespace gpsfw {

SparedFiles::SparedFiles(const char* image, const char* log) {
  Add(image);
  Add(log);
  for (size_t i = 0; i < kSfldFallbacks; ++i) {
    if (SfldFallbackPath(i, fallbacks_[i], kPathCapacity)) Add(fallbacks_[i]);
  }
}

void SparedFiles::Add(const char* path) {
  if (path != nullptr && count_ < sizeof paths_ / sizeof paths_[0]) paths_[count_++] = path;
}

bool SparedFiles::Names(const char* path) const {
  for (size_t i = 0; i < count_; ++i) {
    if (std::strcmp(paths_[i], path) == 0) return true;
  }
  return false;
}

}  // namespace gpsfw
