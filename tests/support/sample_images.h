#pragma once

#include <string>

#include "tests/support/log_capture.h"

namespace gpsfw::test {

// The parts of a firmware image made with gpsfwimg in a temporary directory.
struct ImageFiles {
  std::string container;  // binary container with SFLD tail
  std::string bare;       // binary container without SFLD tail
  std::string sfld;       // the SFLD as S-record text
  std::string srec;       // the programmed bytes of the container as an S-record image
};

ImageFiles MakeImages(const TempDir& dir, int pfldSize, int fwSize, int sfldSize = 2048);

}  // namespace gpsfw::test
