#pragma once

#include <cstdint>

namespace gpsfw::platform {

// Every pause of the loader goes through the process-wide clock, so that tests can run a
// whole update in virtual time.
class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time in microseconds.
  virtual uint64_t NowUs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

Clock& TheClock();
// Installs `clock` for the whole process; nullptr brings back the steady system clock.
void InstallClock(Clock* clock);

inline void SleepMs(uint32_t ms) {
  TheClock().SleepMs(ms);
}
inline uint64_t NowUs() {
  return TheClock().NowUs();
}

}  // namespace gpsfw::platform
