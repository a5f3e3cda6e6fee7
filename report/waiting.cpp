#include "report/waiting.h"

#include "platform/clock.h"
#include "report/observer.h"

namespace gpsfw {
namespace {

constexpr uint64_t kWaitingReportUs = 1000000;

}  // namespace

bool WaitingReportDue(WaitingPace& pace) {
  const uint64_t now = platform::NowUs();
  // A clock that went back starts the count again.
  if (pace.reported && now >= pace.lastReportUs && now - pace.lastReportUs < kWaitingReportUs) {
    return false;
  }
  pace.reported = true;
  pace.lastReportUs = now;
  return true;
}

void ReportWaiting(WaitingPace& pace, const char* what, uint64_t sinceUs) {
  if (WaitingReportDue(pace)) Observe().OnWaiting(what, sinceUs);
}

}  // namespace gpsfw
