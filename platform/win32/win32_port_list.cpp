#include <windows.h>

#include <cstdio>

#include "platform/port_name.h"
#include "platform/serial_port_list.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_usb_identity.h"

// Windows lists every COM port it has made in HARDWARE\DEVICEMAP\SERIALCOMM: the kernel's
// device as the value's name, the port name as its text.

namespace gpsfw::platform {
namespace {

// Whether another program holds the port: a COM port opens for one program at a time, and
// Windows refuses every other with ERROR_ACCESS_DENIED.
PortUse ProbeUse(const char* device, bool* accessible) {
  char path[sizeof SerialPortInfo{}.device + 8];
  std::snprintf(path, sizeof path, "\\\\.\\%s", ComPortName(device));
  const HANDLE port =
      ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  *accessible = true;
  if (port != INVALID_HANDLE_VALUE) {
    ::CloseHandle(port);
    return PortUse::kFree;
  }
  if (::GetLastError() == ERROR_ACCESS_DENIED) return PortUse::kInUse;
  return PortUse::kUnknown;
}

}  // namespace

bool ListSerialPorts(const PortRoots& /*roots*/, PortProbe probe, SerialPortList* list) {
  list->count = 0;
  list->truncated = false;
  RegistryKey ports;
  if (!ports.Open(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM")) {
    // Windows makes the key with the first port: without one there is no key.
    return true;
  }
  char kernelDevice[sizeof SerialPortInfo{}.driver];
  char portName[sizeof SerialPortInfo{}.device];
  for (DWORD i = 0;
       ports.TextValueAt(i, kernelDevice, sizeof kernelDevice, portName, sizeof portName); ++i) {
    if (portName[0] == '\0') continue;
    if (list->count == kMaxListedPorts) {
      list->truncated = true;
      break;
    }
    SerialPortInfo& port = list->ports[list->count++];
    port = SerialPortInfo{};
    port.latencyTimerMs = -1;
    port.use = PortUse::kUnknown;
    (void)CopyFitting(port.device, sizeof port.device, portName);
    (void)CopyFitting(port.driver, sizeof port.driver, kernelDevice);
    (void)ReadUsbIdentity(&port);
    port.accessible = true;  // Windows gives every user its COM ports
    if (probe == PortProbe::kTryOpen) port.use = ProbeUse(port.device, &port.accessible);
  }
  SortPorts(list);
  return true;
}

// The loader's port names write a COM port with its colon, which reaches COM10 and above too.
bool PortNameOfListed(const SerialPortInfo& port, char* out, size_t capacity) {
  const int written = std::snprintf(out, capacity, "%s:", port.device);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

}  // namespace gpsfw::platform
