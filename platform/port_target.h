#pragma once

#include <cstddef>

namespace gpsfw::platform {

inline constexpr size_t kPortTextCapacity = 4096;

// What -p names, worked out once at the start of a run: the opener opens `device`, a failed
// open is diagnosed on it, and a lost port chosen by its adapter's serial number is looked
// for again by that number. Nothing below the start reads the -p text again.
struct PortTarget {
  char given[kPortTextCapacity] = {};   // as given to -p, for messages
  char chosen[kPortTextCapacity] = {};  // the port "usb-serial:SERIAL" chose, else `given`
  char device[kPortTextCapacity] = {};  // the device path: "COM1:" is /dev/ttyS0
  // The adapter's serial number of "usb-serial:SERIAL"; empty for any other name.
  char usbSerial[kPortTextCapacity] = {};
  // A handheld port name without its colon ("COM3", "gps1"), which names a file instead.
  bool lacksColon = false;
  // False when the device path does not fit the loader's buffers: `device` is then empty,
  // and the open fails as for a missing device.
  bool fits = false;
};

// Fills `out` from the text given to -p and the port chosen for it (ChoosePort). False when
// a path does not fit; `out` then still holds the given text for the failure's message.
bool ResolvePort(const char* given, const char* chosen, PortTarget* out);

}  // namespace gpsfw::platform
