#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace gpsfw::platform {
namespace {

class SteadyClock final : public Clock {
 public:
  uint64_t NowUs() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  }
  void SleepMs(uint32_t ms) override {
    // sleep_for resumes after a signal on its own, so the pause is never cut short.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

SteadyClock g_steadyClock;
Clock* g_clock = &g_steadyClock;

}  // namespace

Clock& TheClock() {
  return *g_clock;
}

void InstallClock(Clock* clock) {
  g_clock = clock != nullptr ? clock : &g_steadyClock;
}

}  // namespace gpsfw::platform
