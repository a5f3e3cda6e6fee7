#include <limits.h>

#include <cstdio>

#include "platform/adapter_latency.h"
#include "platform/posix/sysfs_files.h"

namespace gpsfw::platform {
namespace {

// The sysfs file of the latency timer of the tty that `device` (a /dev path, or a link to
// one such as /dev/serial/by-id/...) leads to.
bool LatencyTimerPath(const char* device, const char* sysfsRoot, char* out, size_t capacity) {
  char node[PATH_MAX];
  if (!ResolvePath(device, node, sizeof node)) return false;
  const int written = std::snprintf(out, capacity, "%s/class/tty/%s/device/latency_timer",
                                    sysfsRoot, BaseName(node));
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

}  // namespace

bool AdapterLatencyWarning(const char* device, const char* sysfsRoot, LowLatency status,
                           AdapterLatency* found) {
  *found = AdapterLatency{};
  // ftdi_sio reports 1 ms while the port is at low latency; the timer read then is what
  // the adapter really does.
  found->lowLatency = status == LowLatency::kOn;
  char path[PATH_MAX];
  long timer = 0;
  if (LatencyTimerPath(device, sysfsRoot, path, sizeof path) &&
      ReadNumberAttribute(path, 10, &timer)) {
    found->timerMs = static_cast<int>(timer);
  }
  return !found->lowLatency && found->timerMs > kTolerableLatencyMs;
}

bool FormatLatencyFix(char* out, size_t capacity, const char* device) {
  char node[PATH_MAX];
  const char* name = ResolvePath(device, node, sizeof node) ? BaseName(node) : "ttyUSB0";
  const int written = std::snprintf(
      out, capacity,
      "To lower it for good, copy 60-gpsfwload-ftdi-latency.rules from share/gpsfwload/udev "
      "to /etc/udev/rules.d and plug the adapter in again; until then, as root: "
      "echo 1 > /sys/class/tty/%s/device/latency_timer",
      name);
  if (written >= 0 && static_cast<size_t>(written) < capacity) return true;
  if (capacity > 0) out[0] = '\0';
  return false;
}

}  // namespace gpsfw::platform
