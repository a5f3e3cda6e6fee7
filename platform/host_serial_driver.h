#pragma once

#include "platform/serial_driver.h"

namespace gpsfw::platform {

// The serial driver of the host the program is built for: termios on POSIX, the Win32
// communications API on Windows. Serial() falls back to it when no other is installed.
SerialDriver& HostSerialDriver();

}  // namespace gpsfw::platform
