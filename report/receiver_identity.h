#pragma once

#include <cstddef>

namespace gpsfw {

// What the receiver tells of itself during a run: the version texts its boot loader and the
// SFLD answer with, and the flash type the SFLD reports. A text is empty until it is known.
struct ReceiverIdentity {
  static constexpr size_t kTextCapacity = 256;
  char bootLoader[kTextCapacity] = {};
  char sfld[kTextCapacity] = {};
  int flashType = 0;
  bool flashTypeKnown = false;
};

}  // namespace gpsfw
