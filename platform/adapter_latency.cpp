#include "platform/adapter_latency.h"

#include <cstdio>

namespace gpsfw::platform {

bool FormatLatencyWarning(char* out, size_t capacity, const char* device, int timerMs) {
  if (capacity == 0) return false;
  char fix[512];
  if (!FormatLatencyFix(fix, sizeof fix, device)) fix[0] = '\0';
  const int written = std::snprintf(
      out, capacity,
      "The USB serial adapter of %s holds received bytes for up to %d ms (its latency timer) "
      "and the port does not run at low latency. The loader turns the line around %d times "
      "per record, so each record may take up to %d ms longer. %s",
      device, timerMs, kTurnaroundsPerRecord, kTurnaroundsPerRecord * timerMs, fix);
  if (written >= 0 && static_cast<size_t>(written) < capacity) return true;
  out[0] = '\0';
  return false;
}

}  // namespace gpsfw::platform
