#pragma once

#include <windows.h>

namespace gpsfw::platform {

// Abort and clear, in both directions.
inline constexpr DWORD kPurgeAllActions =
    PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Sets 8 data bits, no parity, one stop bit at `baud`, and the lower 15 bits of the flag word
// to 0x0081: binary mode and continue-after-XOFF on, everything else off (parity checking,
// CTS/DSR output flow control, DSR sensitivity, XON/XOFF both ways, error-character
// replacement, null stripping, abort-on-error), DTR and RTS disabled. The receiver's line has
// no handshake of any kind. The upper 17 bits of the flag word stay as the driver had them.
void ApplyLineSettings(DCB* state, DWORD baud);

// A read ends at the first gap of more than 1 ms after a byte, and gives up after 1 ms plus
// 1 ms per requested byte when nothing arrives; writes have no time-out.
COMMTIMEOUTS LoaderTimeouts();

// Errors with which Windows answers calls on a port whose device has been removed (a USB
// adapter unplugged): the handle is dead and only a new open can bring the port back.
bool IsRemovedDeviceError(DWORD error);

}  // namespace gpsfw::platform
