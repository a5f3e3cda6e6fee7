#pragma once

#include <cstdint>

#include "platform/serial_port_list.h"

namespace gpsfw::platform {

// What Windows' registry tells of the USB adapter behind a COM port. Each adapter's port
// has a key Enum\<bus>\<hardware id>\<instance>\Device Parameters with its PortName; FTDI's
// own driver keeps its ports under the bus FTDIBUS, with the latency timer beside the name.

// The COM port name of a device path: "COM3" of "\\.\COM3".
const char* ComPortName(const char* device);

// Fills the USB fields and the latency timer of `port` (whose device names the COM port)
// from the registry. False when no USB adapter has that port.
bool ReadUsbIdentity(SerialPortInfo* port);

// The IDs and serial number in the name of an FTDIBUS key, "VID_0403+PID_6001+A10K1ABCA":
// the driver appends the adapter's channel letter (A, B, ...) to the serial number.
bool ParseFtdiBusKey(const char* key, SerialPortInfo* port);

// The IDs in a USB hardware id, "VID_1209&PID_7A01" (with "&MI_nn" for one interface of a
// composite device), and the serial number in its instance: Windows makes up an instance
// with '&' in it for a device that has no serial number.
bool ParseUsbKey(const char* hardwareId, const char* instance, SerialPortInfo* port);

}  // namespace gpsfw::platform
