#include "platform/host_serial_driver.h"
#include "platform/posix/termios_serial_driver.h"

namespace gpsfw::platform {

SerialDriver& HostSerialDriver() {
  return TermiosSerialDriver();
}

}  // namespace gpsfw::platform
