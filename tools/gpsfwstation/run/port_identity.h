#pragma once

#include <string>

#include "platform/serial_port_list.h"

namespace gpsfw::station {

// What ties a port to a fixture position for good: its stable names and the serial number of
// the USB adapter behind it. Empty where the port has none (a pty, a mainboard UART).
struct PortIdentity {
  std::string byId;
  std::string byPath;
  std::string usbSerial;

  bool Known() const { return !byId.empty() || !byPath.empty() || !usbSerial.empty(); }
};

// The identity of `port` (a device path or one of its stable names) among `list`'s ports.
PortIdentity IdentityIn(const platform::SerialPortList& list, const std::string& port);

// The identity of `port` on this host, read when its update starts. Ports are not opened.
PortIdentity IdentifyPort(const std::string& port);

}  // namespace gpsfw::station
