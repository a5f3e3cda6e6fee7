#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw::platform {

// Every serial port of the host with what tells a receiver's port from the others: its
// stable names, the adapter's driver and USB identity, its latency timer, and whether this
// user can have it now.

inline constexpr size_t kMaxListedPorts = 32;

enum class PortUse : uint8_t {
  kUnknown,  // not tried, this user may not open it, or the try failed otherwise
  kFree,
  kInUse,  // another program holds it
};

// Whether the list opens every port for a moment to learn whether it is in use. The open
// raises the modem control lines of a free port, and for that moment another program's
// exclusive open of the port fails: a loader that only looks for its own port must not try.
enum class PortProbe : uint8_t { kTryOpen, kNoOpen };

struct SerialPortInfo {
  char device[128];  // what -p takes: /dev/ttyUSB0, COM3
  char byId[256];    // /dev/serial/by-id/..., or empty
  char byPath[256];  // /dev/serial/by-path/..., or empty
  char driver[64];   // ftdi_sio, cp210x, cdc_acm; on Windows the kernel device (\Device\VCP0)
  bool usb;          // the USB fields below are known
  uint16_t vendorId;
  uint16_t productId;
  char manufacturer[128];
  char product[128];
  char serial[128];    // the adapter's USB serial number, or empty
  int latencyTimerMs;  // the adapter's latency timer; -1 when it has none
  bool accessible;     // this user may open it
  PortUse use;
};

// About 38 KB: keep it static or on the heap rather than on a small stack.
struct SerialPortList {
  SerialPortInfo ports[kMaxListedPorts];
  size_t count;
  bool truncated;  // more ports than kMaxListedPorts; the rest are left out
};

// Where the port list is read from on Linux; tests give a fake tree. Windows reads its
// registry and ignores both.
struct PortRoots {
  const char* sysfs;
  const char* dev;
};
inline constexpr PortRoots kSystemPortRoots{"/sys", "/dev"};

// Fills `list` with the host's serial ports, in natural order of their names (ttyUSB2 before
// ttyUSB10). False when the ports cannot be listed at all.
bool ListSerialPorts(const PortRoots& roots, PortProbe probe, SerialPortList* list);

// The port name "usb-serial:SERIAL" picks the adapter by its USB serial number.
inline constexpr char kUsbSerialPrefix[] = "usb-serial:";

// The SERIAL of "usb-serial:SERIAL", or nullptr for any other port name.
const char* UsbSerialOf(const char* portName);

enum class UsbSerialMatch {
  kOne,      // `found` is the port
  kNone,     // no adapter has that serial number
  kSeveral,  // several ports have it (a dual-port adapter, or two adapters with one number)
};

// The port of the adapter with USB serial number `serial` (compared exactly); `matches`
// gets the number of ports that have it.
UsbSerialMatch FindUsbSerial(const SerialPortList& list, const char* serial,
                             const SerialPortInfo** found, size_t* matches);

// The name -p takes for a listed port: its device on Linux, "COMn:" on Windows.
bool PortNameOfListed(const SerialPortInfo& port, char* out, size_t capacity);

// Orders port names as a person would: the numbers in them by value. Like strcmp.
int ComparePortNames(const char* a, const char* b);

// Sorts the list's ports by ComparePortNames of their devices.
void SortPorts(SerialPortList* list);

}  // namespace gpsfw::platform
