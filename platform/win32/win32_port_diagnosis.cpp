#include <windows.h>

#include <cstdio>

#include "platform/port_diagnosis.h"

namespace gpsfw::platform {

// Windows names the cause in the error of the open the loader made.
void DiagnosePort(const PortTarget& port, PortDiagnosis* out) {
  *out = PortDiagnosis{};
  const DWORD error = ::GetLastError();
  const char* why = "it cannot be opened";
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      out->code = "port_not_found";
      why = "there is no such port";
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      out->code = "port_busy";
      why = "another program holds it";
      break;
    default:
      break;
  }
  std::snprintf(out->text, sizeof out->text, "serial port '%s' cannot be opened: %s (error %lu)",
                port.given, why, static_cast<unsigned long>(error));
}

// Windows opens a serial port for one program at a time: no other can hold it beside the loader.
int DescribePortHolders(const char* /*device*/, char* text, size_t capacity) {
  if (capacity > 0) text[0] = '\0';
  return 0;
}

}  // namespace gpsfw::platform
