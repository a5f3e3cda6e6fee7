#pragma once

#include <cstddef>
#include <cstdio>

#include "link/serial_port.h"

namespace gpsfw {

// The port the command line names, with "usb-serial:SERIAL" turned into the device of the
// adapter that has that USB serial number. When none has it, or several do, the reason goes
// to `notices` (nullptr: nowhere) and the name stays as given: it then fails to open as any
// missing port does. False when the result does not fit.
bool ChoosePort(const char* given, char* out, size_t capacity, std::FILE* notices);

// Tells the observer, once the port is open, when the adapter behind it holds received bytes
// longer than the protocol's turns can afford and the port could not be set to low latency.
// `device` is the port's device path (platform::PortTarget::device).
void CheckAdapterLatency(const SerialLink& link, const char* device);

}  // namespace gpsfw
