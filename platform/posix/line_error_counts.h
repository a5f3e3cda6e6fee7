#pragma once

#include <cstdint>

namespace gpsfw::platform {

// The kernel's running totals of receive errors on one serial port.
struct LineErrorCounts {
  uint32_t breaks = 0;
  uint32_t frame = 0;
  uint32_t overrun = 0;
  uint32_t bufferOverrun = 0;
  uint32_t parity = 0;
};

enum class CountsRead {
  kRead,
  kFailed,
  // The driver keeps no totals (ptys, some USB adapters, non-Linux hosts): asking again on
  // the same descriptor is of no use.
  kUnsupported,
};

CountsRead ReadLineErrorCounts(int fd, LineErrorCounts* counts);

// The kCe* flags of every total that grew from `before` to `now`.
uint32_t LineErrorFlags(const LineErrorCounts& before, const LineErrorCounts& now);

}  // namespace gpsfw::platform
