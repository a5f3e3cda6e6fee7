#pragma once

#include <cstddef>

#include "platform/port_target.h"

namespace gpsfw::platform {

// Why a serial port could not be opened, found out after the loader's own open failed: a
// short code for scripts and one line for people with the device, the system's reason and,
// where one helps, what to do (the group to join, the process that holds the port, the
// ports there are). Looks at the device without changing it; a probing open is closed at
// once.
struct PortDiagnosis {
  const char* code = "port_unusable";
  char text[768] = {};
};

// `port` as resolved at the start of the run.
void DiagnosePort(const PortTarget& port, PortDiagnosis* out);

// Other programs that hold the port open (a terminal, a GPS daemon, a modem manager probing
// a new device), which would take the receiver's answers: "PID 123 (minicom), PID 456
// (gpsd)" in `text`, the first few of them; their count, 0 where the system cannot tell.
// `device` is the port's device path (PortTarget::device). The process at the far end of a
// pseudo-terminal (a simulated receiver) is the loader's peer and is not counted.
int DescribePortHolders(const char* device, char* text, size_t capacity);

}  // namespace gpsfw::platform
