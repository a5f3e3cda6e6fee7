#include "platform/clock.h"

#include <time.h>

#include <chrono>

#include "platform/stop_signals.h"

namespace gpsfw::platform {
namespace {

// A stop signal cuts a sleep short at once (nanosleep returns EINTR); should it arrive just
// before the sleep begins, the sleep still ends within one slice. The slice is long because each
// one is a wake-up of the host, and a station runs many loaders side by side.
constexpr auto kStopCheckSlice = std::chrono::milliseconds(1000);

class SteadyClock final : public Clock {
 public:
  uint64_t NowUs() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  }
  void SleepMs(uint32_t ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!CheckStop()) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= left.zero()) return;
      const auto slice = std::chrono::duration_cast<std::chrono::nanoseconds>(
          left < kStopCheckSlice ? left : std::chrono::steady_clock::duration(kStopCheckSlice));
      const timespec pause{static_cast<time_t>(slice.count() / 1000000000),
                           static_cast<long>(slice.count() % 1000000000)};
      // Another signal, or the end of the slice: the loop looks at the time again.
      (void)::nanosleep(&pause, nullptr);
    }
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
