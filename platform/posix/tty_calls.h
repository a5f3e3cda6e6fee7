#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "platform/unique_fd.h"

namespace gpsfw::platform {

// The termios driver's calls on one tty, each with the errors it has to tell apart.

bool WouldBlock(int error);

// Errors with which a tty says that its device has gone: a USB adapter pulled out, a pty
// whose master was closed.
bool MeansGone(int error);

// Reads what the kernel has. Bytes read, 0 when nothing was there, -1 when the read failed;
// `gone` is set when the port is gone (a read of 0 bytes, which VMIN 1 leaves to a hang-up;
// EIO).
long ReadAvailable(int fd, uint8_t* buffer, size_t size, bool* gone);

// Opens and locks a tty for this loader alone. An invalid descriptor when it cannot.
UniqueFd OpenExclusive(const char* device, termios* original);

// The tty's device number, which tells its port apart from every other while it is plugged in.
uint64_t DeviceNumber(int fd);

}  // namespace gpsfw::platform
