#pragma once

#include <cstddef>

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

// `portName` as given to -p.
void DiagnosePort(const char* portName, PortDiagnosis* out);

}  // namespace gpsfw::platform
