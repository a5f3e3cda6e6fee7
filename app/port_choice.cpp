#include "app/port_choice.h"

#include <cstring>

#include "platform/adapter_latency.h"
#include "platform/paths.h"
#include "platform/port_name.h"
#include "platform/serial_driver.h"
#include "platform/serial_port_list.h"
#include "report/observer.h"

namespace gpsfw {
namespace {

constexpr size_t kAdviceCapacity = 1024;

void TellAmbiguous(std::FILE* notices, const char* serial, const platform::SerialPortList& list) {
  std::fprintf(notices, "gpsfwload: several serial ports have the USB serial number %s:", serial);
  for (size_t i = 0; i < list.count; ++i) {
    if (std::strcmp(list.ports[i].serial, serial) == 0) {
      std::fprintf(notices, " %s", list.ports[i].device);
    }
  }
  std::fputs("; name one of them with -p\n", notices);
}

}  // namespace

bool ChoosePort(const char* given, char* out, size_t capacity, std::FILE* notices) {
  const char* serial = platform::UsbSerialOf(given);
  if (serial == nullptr) return platform::CopyFitting(out, capacity, given);
  // Kept off the stack: the list of every port is large. Looking for its own port, the
  // loader opens none of the others, so that it never turns away another program's open.
  static platform::SerialPortList list;
  const platform::SerialPortInfo* found = nullptr;
  size_t matches = 0;
  platform::UsbSerialMatch match = platform::UsbSerialMatch::kNone;
  if (platform::ListSerialPorts(platform::kSystemPortRoots, platform::PortProbe::kNoOpen, &list)) {
    match = platform::FindUsbSerial(list, serial, &found, &matches);
  }
  if (match == platform::UsbSerialMatch::kOne)
    return platform::PortNameOfListed(*found, out, capacity);
  if (notices != nullptr && match == platform::UsbSerialMatch::kSeveral) {
    TellAmbiguous(notices, serial, list);
  } else if (notices != nullptr) {
    std::fprintf(notices,
                 "gpsfwload: no serial port has the USB serial number %s (gpsfwload "
                 "--list-ports lists the ports and their serial numbers)\n",
                 serial);
  }
  return platform::CopyFitting(out, capacity, given);
}

void CheckAdapterLatency(const SerialLink& link, const char* device) {
  platform::AdapterLatency found;
  const platform::LowLatency status = link.driver->LowLatencyOf(link.port);
  if (!platform::AdapterLatencyWarning(device, "/sys", status, &found)) return;
  char advice[kAdviceCapacity];
  if (!platform::FormatLatencyWarning(advice, sizeof advice, device, found.timerMs)) return;
  Observe().OnAdapterLatency(device, found.timerMs, advice);
}

}  // namespace gpsfw
