#pragma once

#include "link/serial_port.h"

namespace gpsfw {

// Wakes the boot loader and polls it until the flash stage has succeeded. Never gives up.
bool RunSession(PortHandle port);
// The wake sequence at 4800 and 57600 baud, each followed by four SYNC_CODE at 19200.
void WakeTarget(PortHandle port);
// Logs the version behind the "$VER" tag of `text` (which it may shorten in place).
void VersionReport(char* text);

}  // namespace gpsfw
