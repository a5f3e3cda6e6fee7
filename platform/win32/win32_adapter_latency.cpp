#include <cstdio>

#include "platform/adapter_latency.h"
#include "platform/port_name.h"
#include "platform/serial_port_list.h"
#include "platform/win32/win32_usb_identity.h"

namespace gpsfw::platform {

// Windows has no low-latency request: FTDI's driver takes its timer from the registry when
// the adapter is plugged in, and only the user can lower it there.
bool AdapterLatencyWarning(const char* device, const char* /*sysfsRoot*/, LowLatency status,
                           AdapterLatency* found) {
  *found = AdapterLatency{};
  found->lowLatency = status == LowLatency::kOn;
  SerialPortInfo port{};
  port.latencyTimerMs = -1;
  if (CopyFitting(port.device, sizeof port.device, device) && ReadUsbIdentity(&port)) {
    found->timerMs = port.latencyTimerMs;
  }
  return !found->lowLatency && found->timerMs > kTolerableLatencyMs;
}

bool FormatLatencyFix(char* out, size_t capacity, const char* device) {
  const int written = std::snprintf(
      out, capacity,
      "To lower it, open Device Manager, Ports (COM & LPT), the properties of %s, Port "
      "Settings, Advanced, set Latency Timer (msec) to 1, and plug the adapter in again.",
      ComPortName(device));
  if (written >= 0 && static_cast<size_t>(written) < capacity) return true;
  if (capacity > 0) out[0] = '\0';
  return false;
}

}  // namespace gpsfw::platform
