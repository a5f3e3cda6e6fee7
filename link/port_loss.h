#pragma once

#include "link/serial_port.h"

namespace gpsfw {

// The serial device may vanish (a USB adapter pulled out) and come back under its name. The
// port operations notice it, wait for the device, reopen it and set this mark; every wait of
// a stage ends early while it is set, so that the stage fails and the session loop, which
// takes the mark, wakes the receiver again.
bool PortLossPending();
// True once after a loss; clears the mark.
bool TakePortLoss();

// Called by the port operations when the driver reports the device gone: logs, waits until
// the device is back and reopened with its settings, logs again. Returns at once when the
// port is not lost.
void RecoverLostPort(PortHandle port);

}  // namespace gpsfw
