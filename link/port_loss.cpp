#include "link/port_loss.h"

#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "protocol/host_timing.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "report/waiting.h"

namespace gpsfw {

bool TakePortLoss(SerialLink& link) {
  const bool pending = link.lossPending;
  link.lossPending = false;
  return pending;
}

void RecoverLostPort(SerialLink& link) {
  const PortHandle port = link.port;
  if (port == INVALID_PORT || !platform::Serial().Lost(port)) return;
  link.lossPending = true;
  LogWide(L"Serial port lost, waiting for it...");
  Observe().OnPortLost();
  Observe().OnPhase(UpdatePhase::kPortLost);
  // A device that comes back is opened again under its name; until then there is nothing
  // to do but look now and then.
  const uint64_t since = platform::NowUs();
  while (!platform::Serial().Reopen(port)) {
    // A run that gives up at some time leaves the wait then, its port still lost; the
    // session ends at its next look at the time.
    if (link.giveUpAtUs != 0 && platform::NowUs() >= link.giveUpAtUs) return;
    platform::SleepMs(kLostPortCheckMs);
    ReportWaiting("the serial port to come back", since);
  }
  LogWide(L"Serial port back.");
  Observe().OnPortBack();
}

}  // namespace gpsfw
