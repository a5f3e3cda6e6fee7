#include "link/port_loss.h"

#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "protocol/host_timing.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "report/waiting.h"

namespace gpsfw {

namespace {

// An adapter that re-enumerates comes back under another node with the same serial number:
// the next reopen goes there. Nothing happens while no port, or several, have the number.
void FollowAdapter(const SerialLink& link) {
  if (link.usbSerial == nullptr) return;
  // Kept off the stack: the list of every port is large.
  static platform::SerialPortList list;
  if (!platform::ListSerialPorts(link.portRoots, platform::PortProbe::kNoOpen, &list)) return;
  const platform::SerialPortInfo* found = nullptr;
  size_t matches = 0;
  if (platform::FindUsbSerial(list, link.usbSerial, &found, &matches) !=
      platform::UsbSerialMatch::kOne) {
    return;
  }
  char device[sizeof found->device];
  if (platform::PortNameOfListed(*found, device, sizeof device)) {
    (void)link.driver->Retarget(link.port, device);
  }
}

}  // namespace

bool TakePortLoss(SerialLink& link) {
  const bool pending = link.lossPending;
  link.lossPending = false;
  return pending;
}

void RecoverLostPort(SerialLink& link) {
  const PortHandle port = link.port;
  if (port == INVALID_PORT || !link.driver->Lost(port)) return;
  link.lossPending = true;
  LogWide(L"Serial port lost, waiting for it...");
  Observe().OnPortLost();
  Observe().OnPhase(UpdatePhase::kPortLost);
  // A device that comes back is opened again under its name; until then there is nothing
  // to do but look now and then.
  const uint64_t since = platform::NowUs();
  while (!link.driver->Reopen(port)) {
    // A run that gives up at some time leaves the wait then, its port still lost; the
    // session ends at its next look at the time.
    if (link.giveUpAtUs != 0 && platform::NowUs() >= link.giveUpAtUs) return;
    platform::SleepMs(kLostPortCheckMs);
    FollowAdapter(link);
    ReportWaiting(link.waiting, "the serial port to come back", since);
  }
  LogWide(L"Serial port back.");
  Observe().OnPortBack();
}

}  // namespace gpsfw
