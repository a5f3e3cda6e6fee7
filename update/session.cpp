// Placeholder until the session lands: a target that never answers.
#include "update/session.h"

#include "platform/clock.h"

namespace gpsfw {

bool RunSession(PortHandle) {
  for (;;) platform::SleepMs(1000);
}

void WakeTarget(PortHandle) {}
void VersionReport(char*) {}

}  // namespace gpsfw
