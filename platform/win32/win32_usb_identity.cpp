#include "platform/win32/win32_usb_identity.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/port_name.h"
#include "platform/win32/win32_registry.h"

namespace gpsfw::platform {
namespace {

constexpr char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kDeviceParameters[] = "Device Parameters";
constexpr DWORD kKeyNameCapacity = 256;

bool SameText(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) !=
        std::toupper(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

// Four hex digits behind `label` at `*text`; `*text` moves past them.
bool ParseId(const char** text, const char* label, uint16_t* id) {
  const size_t length = std::strlen(label);
  if (std::strncmp(*text, label, length) != 0) return false;
  const char* digits = *text + length;
  for (int i = 0; i < 4; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(digits[i]))) return false;
  }
  char hex[5] = {digits[0], digits[1], digits[2], digits[3], '\0'};
  *id = static_cast<uint16_t>(std::strtoul(hex, nullptr, 16));
  *text = digits + 4;
  return true;
}

bool ParseIds(const char** text, char separator, SerialPortInfo* port) {
  if (!ParseId(text, "VID_", &port->vendorId) || **text != separator) return false;
  ++*text;
  return ParseId(text, "PID_", &port->productId);
}

// Fills `port` from the adapter key `hardwareId`\`instance` of `bus` when its port is the
// one sought. True when it is.
bool MatchInstance(const char* bus, const char* hardwareId, const char* instance,
                   SerialPortInfo* port) {
  char path[3 * kKeyNameCapacity + sizeof kEnumKey + sizeof kDeviceParameters];
  RegistryKey device;
  RegistryKey parameters;
  char portName[64];
  if (std::snprintf(path, sizeof path, "%s%s\\%s\\%s", kEnumKey, bus, hardwareId, instance) <= 0 ||
      !device.Open(HKEY_LOCAL_MACHINE, path) || !parameters.Open(device.Get(), kDeviceParameters) ||
      !parameters.ReadText("PortName", portName, sizeof portName) ||
      !SameText(portName, ComPortName(port->device))) {
    return false;
  }
  const bool ftdi = std::strcmp(bus, "FTDIBUS") == 0;
  if (!(ftdi ? ParseFtdiBusKey(hardwareId, port) : ParseUsbKey(hardwareId, instance, port))) {
    return false;
  }
  DWORD latency = 0;
  if (parameters.ReadDword("LatencyTimer", &latency)) {
    port->latencyTimerMs = static_cast<int>(latency);
  }
  (void)device.ReadText("FriendlyName", port->product, sizeof port->product);
  return true;
}

// Walks Enum\`bus`\<hardware id>\<instance> for the adapter of the port.
bool FindOnBus(const char* bus, SerialPortInfo* port) {
  char path[sizeof kEnumKey + 16];
  RegistryKey root;
  if (std::snprintf(path, sizeof path, "%s%s", kEnumKey, bus) <= 0 ||
      !root.Open(HKEY_LOCAL_MACHINE, path)) {
    return false;
  }
  char hardwareId[kKeyNameCapacity];
  for (DWORD i = 0; root.SubkeyName(i, hardwareId, sizeof hardwareId); ++i) {
    RegistryKey instances;
    if (!instances.Open(root.Get(), hardwareId)) continue;
    char instance[kKeyNameCapacity];
    for (DWORD j = 0; instances.SubkeyName(j, instance, sizeof instance); ++j) {
      if (MatchInstance(bus, hardwareId, instance, port)) return true;
    }
  }
  return false;
}

}  // namespace

const char* ComPortName(const char* device) {
  return std::strncmp(device, "\\\\.\\", 4) == 0 ? device + 4 : device;
}

bool ReadUsbIdentity(SerialPortInfo* port) {
  // FTDI's own driver first: only its key has the latency timer.
  return FindOnBus("FTDIBUS", port) || FindOnBus("USB", port);
}

bool ParseFtdiBusKey(const char* key, SerialPortInfo* port) {
  const char* rest = key;
  if (!ParseIds(&rest, '+', port)) return false;
  port->usb = true;
  port->serial[0] = '\0';
  if (*rest != '+') return true;
  ++rest;
  const size_t length = std::strlen(rest);
  if (length < 2 || length > sizeof port->serial) return true;
  std::memcpy(port->serial, rest, length - 1);
  port->serial[length - 1] = '\0';
  return true;
}

bool ParseUsbKey(const char* hardwareId, const char* instance, SerialPortInfo* port) {
  const char* rest = hardwareId;
  if (!ParseIds(&rest, '&', port)) return false;
  port->usb = true;
  if (std::strchr(instance, '&') != nullptr ||
      !CopyFitting(port->serial, sizeof port->serial, instance)) {
    port->serial[0] = '\0';
  }
  return true;
}

}  // namespace gpsfw::platform
