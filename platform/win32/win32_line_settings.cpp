#include "platform/win32/win32_line_settings.h"

namespace gpsfw::platform {
namespace {

constexpr DWORD kReadIntervalMs = 1;
constexpr DWORD kReadPerByteMs = 1;
constexpr DWORD kReadConstantMs = 1;

// ERROR_DEVICE_REMOVED is missing from older SDK headers.
constexpr DWORD kErrorDeviceRemoved = 1617;

constexpr DWORD kRemovedDeviceErrors[] = {
    ERROR_ACCESS_DENIED,         // most USB serial drivers, once the adapter is gone
    ERROR_BAD_COMMAND,           // the device no longer understands the request
    ERROR_GEN_FAILURE,           // a device that failed in mid-call
    ERROR_OPERATION_ABORTED,     // the call was cancelled as the device went away
    ERROR_DEVICE_NOT_CONNECTED,  // the port is there, its device is not
    kErrorDeviceRemoved,
};

}  // namespace

void ApplyLineSettings(DCB* state, DWORD baud) {
  state->BaudRate = baud;
  state->ByteSize = 8;
  state->Parity = NOPARITY;
  state->StopBits = ONESTOPBIT;
  state->fBinary = TRUE;
  state->fParity = FALSE;
  state->fOutxCtsFlow = FALSE;
  state->fOutxDsrFlow = FALSE;
  state->fDtrControl = DTR_CONTROL_DISABLE;
  state->fDsrSensitivity = FALSE;
  state->fTXContinueOnXoff = TRUE;
  state->fOutX = FALSE;
  state->fInX = FALSE;
  state->fErrorChar = FALSE;
  state->fNull = FALSE;
  state->fRtsControl = RTS_CONTROL_DISABLE;
  state->fAbortOnError = FALSE;
}

COMMTIMEOUTS LoaderTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = kReadPerByteMs;
  timeouts.ReadTotalTimeoutConstant = kReadConstantMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  return timeouts;
}

bool IsRemovedDeviceError(DWORD error) {
  for (DWORD removed : kRemovedDeviceErrors) {
    if (error == removed) return true;
  }
  return false;
}

}  // namespace gpsfw::platform
