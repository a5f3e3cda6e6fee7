#pragma once

#include "platform/serial_driver.h"

namespace gpsfw::platform {

// The serial driver of a POSIX host: termios, poll() and the kernel's line error counters.
SerialDriver& TermiosSerialDriver();

}  // namespace gpsfw::platform
