#pragma once

#include "link/serial_port.h"

namespace gpsfw {

// The serial device may vanish (a USB adapter pulled out) and come back under its name. The
// port operations notice it, wait for the device, reopen it and set this mark; every wait of
// a stage ends early while it is set, so that the stage fails and the session loop, which
// takes the mark, wakes the receiver again.
inline bool PortLossPending(const SerialLink& link) {
  return link.lossPending;
}
// True once after a loss; clears the mark.
bool TakePortLoss(SerialLink& link);

// Called by the port operations when the driver reports the device gone: logs, waits until
// the device is back and reopened with its settings, logs again. Returns at once when the
// port is not lost.
void RecoverLostPort(SerialLink& link);

}  // namespace gpsfw
