#pragma once

#include <cstddef>

#include "image/sfld_loader.h"

namespace gpsfw {

// The files a run reads or writes, none of which a file it writes may overwrite: the
// firmware image, the SFLD files it may fall back to, the log, the outputs opened before.
// The one list both the log and the front end's outputs are opened against.
class SparedFiles {
 public:
  // `log` is nullptr while the log itself is being opened.
  SparedFiles(const char* image, const char* log);
  void Add(const char* path);
  // True when `path` names one of the files as it was given (for a file not created yet).
  bool Names(const char* path) const;
  const char* const* Paths() const { return paths_; }
  size_t Count() const { return count_; }

 private:
  char fallbacks_[kSfldFallbacks][kPathCapacity];
  const char* paths_[kSfldFallbacks + 3];
  size_t count_ = 0;
};

}  // namespace gpsfw
