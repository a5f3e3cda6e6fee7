#include "report/waiting.h"

#include "platform/clock.h"
#include "report/observer.h"

namespace gpsfw {
namespace {

constexpr uint64_t kWaitingReportUs = 1000000;
uint64_t g_lastReportUs = 0;
bool g_reported = false;

}  // namespace

bool WaitingReportDue() {
  const uint64_t now = platform::NowUs();
  // A clock that went back (a new run in virtual time) starts the count again.
  if (g_reported && now >= g_lastReportUs && now - g_lastReportUs < kWaitingReportUs) {
    return false;
  }
  g_reported = true;
  g_lastReportUs = now;
  return true;
}

void ReportWaiting(const char* what, uint64_t sinceUs) {
  if (WaitingReportDue()) Observe().OnWaiting(what, sinceUs);
}

}  // namespace gpsfw
