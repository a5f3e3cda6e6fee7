#pragma once

#include "link/serial_port.h"

namespace gpsfw {

// Wakes the boot loader and polls it until the flash stage has succeeded. Never gives up.
bool RunSession(PortHandle port);
// The wake sequence at 4800 and 57600 baud, each followed by four SYNC_CODE at 19200.
void WakeTarget(PortHandle port);

}  // namespace gpsfw
