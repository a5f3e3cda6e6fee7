#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/port_name.h"
#include "platform/serial_port_list.h"
#include "platform/posix/sysfs_files.h"
#include "platform/unique_fd.h"

// Linux's view of a serial port: /sys/class/tty/<name> for every tty, with a `device` link
// for those that have hardware behind them. A USB adapter's port device sits below the USB
// interface, which sits below the USB device with its IDs and strings:
//   .../usb1/1-2/                 idVendor, idProduct, manufacturer, product, serial
//   .../usb1/1-2/1-2:1.0/         the interface: cdc_acm's `device`
//   .../usb1/1-2/1-2:1.0/ttyUSB0  usb-serial's `device` (ftdi_sio: latency_timer)

namespace gpsfw::platform {
namespace {

// The USB device sits at most this many folders above the tty's device.
constexpr int kUsbDeviceDepth = 3;
// The serial core's own devices between a UART's tty and the UART: its port and controller.
constexpr int kSerialBaseDepth = 2;

// A serial core port whose UART was never found reports type 0 (PORT_UNKNOWN): the legacy
// ttyS ports that every PC kernel creates.
bool IsEmptyUartSlot(const char* ttyFolder) {
  char path[PATH_MAX];
  long type = 0;
  return JoinPath(path, sizeof path, ttyFolder, "type") && ReadNumberAttribute(path, 10, &type) &&
         type == 0;
}

void ReadText(const char* folder, const char* name, char* out, size_t capacity) {
  char path[PATH_MAX];
  if (!JoinPath(path, sizeof path, folder, name) || !ReadAttribute(path, out, capacity)) {
    out[0] = '\0';
  }
}

bool ReadUsbId(const char* folder, const char* name, uint16_t* id) {
  char path[PATH_MAX];
  long value = 0;
  if (!JoinPath(path, sizeof path, folder, name) || !ReadNumberAttribute(path, 16, &value)) {
    return false;
  }
  *id = static_cast<uint16_t>(value);
  return true;
}

// The USB device above the tty's device `folder`, when there is one.
void ReadUsbDevice(const char* deviceFolder, SerialPortInfo* port) {
  char folder[PATH_MAX];
  if (!CopyFitting(folder, sizeof folder, deviceFolder)) return;
  for (int level = 0; level < kUsbDeviceDepth; ++level) {
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr || slash == folder) return;
    *slash = '\0';
    if (!ReadUsbId(folder, "idVendor", &port->vendorId)) continue;
    port->usb = ReadUsbId(folder, "idProduct", &port->productId);
    ReadText(folder, "manufacturer", port->manufacturer, sizeof port->manufacturer);
    ReadText(folder, "product", port->product, sizeof port->product);
    ReadText(folder, "serial", port->serial, sizeof port->serial);
    return;
  }
}

// The driver of the tty's device. Since Linux 6.5 the serial core puts devices of its own
// (bus serial-base, drivers "port" and "ctrl") between a UART's tty and the UART's device;
// the driver that tells what the port is sits above them.
void ReadDriver(const char* deviceFolder, SerialPortInfo* port) {
  char folder[PATH_MAX];
  if (!CopyFitting(folder, sizeof folder, deviceFolder)) return;
  for (int level = 0; level <= kSerialBaseDepth; ++level) {
    char path[PATH_MAX];
    char driver[PATH_MAX];
    if (!JoinPath(path, sizeof path, folder, "driver") ||
        !ResolvePath(path, driver, sizeof driver)) {
      return;
    }
    if (std::strstr(driver, "/bus/serial-base/") == nullptr) {
      (void)CopyFitting(port->driver, sizeof port->driver, BaseName(driver));
      return;
    }
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr || slash == folder) return;
    *slash = '\0';
  }
}

// The first name, in natural order, of `dev`/serial/`kind` that leads to `target`.
void FindStableName(const char* dev, const char* kind, const char* target, char* out,
                    size_t capacity) {
  out[0] = '\0';
  char folder[PATH_MAX];
  char links[PATH_MAX];
  if (!JoinPath(links, sizeof links, dev, "serial") ||
      !JoinPath(folder, sizeof folder, links, kind)) {
    return;
  }
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    char link[PATH_MAX];
    char resolved[PATH_MAX];
    if (entry->d_name[0] == '.' || !JoinPath(link, sizeof link, folder, entry->d_name) ||
        !ResolvePath(link, resolved, sizeof resolved) || std::strcmp(resolved, target) != 0) {
      continue;
    }
    if (out[0] == '\0' || ComparePortNames(link, out) < 0) (void)CopyFitting(out, capacity, link);
  }
  ::closedir(dir);
}

// Whether another program holds the port: a tty held with TIOCEXCL refuses the open with
// EBUSY, one held by a loader refuses the lock. Nothing is read, written or configured.
PortUse ProbeUse(const char* device) {
  UniqueFd fd(::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return errno == EBUSY ? PortUse::kInUse : PortUse::kUnknown;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? PortUse::kInUse : PortUse::kUnknown;
  }
  (void)::flock(fd.Get(), LOCK_UN);
  return PortUse::kFree;
}

// Fills `port` for the tty `name`; false when it is no serial port with hardware.
bool ReadPort(const PortRoots& roots, PortProbe probe, const char* ttyFolder, const char* name,
              SerialPortInfo* port) {
  *port = SerialPortInfo{};
  port->latencyTimerMs = -1;
  char path[PATH_MAX];
  char deviceFolder[PATH_MAX];
  char deviceNode[PATH_MAX];
  if (!JoinPath(path, sizeof path, ttyFolder, "device") ||
      !ResolvePath(path, deviceFolder, sizeof deviceFolder) || IsEmptyUartSlot(ttyFolder) ||
      !JoinPath(port->device, sizeof port->device, roots.dev, name) ||
      !ResolvePath(port->device, deviceNode, sizeof deviceNode)) {
    return false;
  }
  ReadDriver(deviceFolder, port);
  long latency = 0;
  if (JoinPath(path, sizeof path, deviceFolder, "latency_timer") &&
      ReadNumberAttribute(path, 10, &latency)) {
    port->latencyTimerMs = static_cast<int>(latency);
  }
  ReadUsbDevice(deviceFolder, port);
  FindStableName(roots.dev, "by-id", deviceNode, port->byId, sizeof port->byId);
  FindStableName(roots.dev, "by-path", deviceNode, port->byPath, sizeof port->byPath);
  port->accessible = ::access(port->device, R_OK | W_OK) == 0;
  const bool tryOpen = port->accessible && probe == PortProbe::kTryOpen;
  port->use = tryOpen ? ProbeUse(port->device) : PortUse::kUnknown;
  return true;
}

}  // namespace

bool ListSerialPorts(const PortRoots& roots, PortProbe probe, SerialPortList* list) {
  list->count = 0;
  list->truncated = false;
  char classFolder[PATH_MAX];
  char sysClass[PATH_MAX];
  if (!JoinPath(sysClass, sizeof sysClass, roots.sysfs, "class") ||
      !JoinPath(classFolder, sizeof classFolder, sysClass, "tty")) {
    return false;
  }
  DIR* dir = ::opendir(classFolder);
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    char ttyFolder[PATH_MAX];
    if (entry->d_name[0] == '.' ||
        !JoinPath(ttyFolder, sizeof ttyFolder, classFolder, entry->d_name)) {
      continue;
    }
    if (list->count == kMaxListedPorts) {
      SerialPortInfo spare;
      if (ReadPort(roots, PortProbe::kNoOpen, ttyFolder, entry->d_name, &spare)) {
        list->truncated = true;
      }
      continue;
    }
    if (ReadPort(roots, probe, ttyFolder, entry->d_name, &list->ports[list->count])) {
      ++list->count;
    }
  }
  ::closedir(dir);
  SortPorts(list);
  return true;
}

bool PortNameOfListed(const SerialPortInfo& port, char* out, size_t capacity) {
  return CopyFitting(out, capacity, port.device);
}

}  // namespace gpsfw::platform
