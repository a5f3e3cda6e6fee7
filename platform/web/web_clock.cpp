#include <emscripten.h>

#include "platform/clock.h"
#include "platform/stop_signals.h"

// The page's clock: performance.now() is monotonic and finer than a millisecond. A sleep
// hands the page back to the browser; the page's Cancel ends it within one slice.
// clang-format off
EM_JS(double, web_now_ms, (), { return performance.now(); });
EM_ASYNC_JS(void, web_sleep_ms, (uint32_t ms), { await pagePause(ms); });
// clang-format on

namespace gpsfw::platform {
namespace {

constexpr uint32_t kStopCheckSliceMs = 100;

class PageClock final : public Clock {
 public:
  uint64_t NowUs() override { return static_cast<uint64_t>(web_now_ms() * 1000.0); }
  void SleepMs(uint32_t ms) override {
    const uint64_t deadline = NowUs() + uint64_t{ms} * 1000;
    while (!CheckStop()) {
      const uint64_t now = NowUs();
      if (now >= deadline) return;
      const uint64_t leftMs = (deadline - now + 999) / 1000;
      web_sleep_ms(static_cast<uint32_t>(leftMs < kStopCheckSliceMs ? leftMs : kStopCheckSliceMs));
    }
  }
};

PageClock g_pageClock;
Clock* g_clock = &g_pageClock;

}  // namespace

Clock& TheClock() {
  return *g_clock;
}

void InstallClock(Clock* clock) {
  g_clock = clock != nullptr ? clock : &g_pageClock;
}

}  // namespace gpsfw::platform
