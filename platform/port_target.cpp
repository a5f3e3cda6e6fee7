#include "platform/port_target.h"

#include <cctype>

#include "platform/paths.h"
#include "platform/port_name.h"
#include "platform/serial_port_list.h"

namespace gpsfw::platform {
namespace {

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::toupper(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}

// "COM3" or "gps1": the handheld's port names need their colon.
bool LacksItsColon(const char* name) {
  if (!StartsWithNoCase(name, "COM") && !StartsWithNoCase(name, "GPS")) return false;
  const char* digits = name + 3;
  if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
  while (std::isdigit(static_cast<unsigned char>(*digits))) ++digits;
  return *digits == '\0';
}

}  // namespace

bool ResolvePort(const char* given, const char* chosen, PortTarget* out) {
  *out = PortTarget{};
  CopyFitting(out->given, sizeof out->given, given);
  const char* serial = UsbSerialOf(given);
  if (serial != nullptr) CopyFitting(out->usbSerial, sizeof out->usbSerial, serial);
  out->lacksColon = LacksItsColon(given);
  out->fits = CopyFitting(out->chosen, sizeof out->chosen, chosen) &&
              DevicePathForPort(chosen, out->device, sizeof out->device);
  // An empty device opens nothing, and the open fails as for a missing device.
  if (!out->fits) out->device[0] = '\0';
  return out->fits;
}

}  // namespace gpsfw::platform
