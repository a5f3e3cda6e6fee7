#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "tools/gpsfwstation/run/unit.h"

namespace gpsfw::station {

// The upper bounds, in seconds, of the update durations counted apart: a receiver's update
// takes tens of seconds at the line's top rate and minutes when wake-ups or retries come in;
// the longest bounds catch the units that ran into their time limit.
inline constexpr std::array<double, 12> kDurationBounds = {10,  20,  30,  45,  60,  90,
                                                           120, 180, 300, 450, 600, 900};

// How long the ended updates of one result took.
struct DurationCounts {
  // counts[i]: durations in (bound i-1, bound i]; the last counts those beyond every bound.
  std::array<uint64_t, kDurationBounds.size() + 1> counts{};
  double sum = 0;
  uint64_t count = 0;
};

// What the ended updates of one port add up to.
struct PortTally {
  std::map<Result, uint64_t> ended;
  std::map<std::string, uint64_t> failures;  // by reason code
  uint64_t retries = 0;
  uint64_t wakes = 0;
};

// Every ended update of the run, as counts that only grow: a station that watches for weeks
// drops its old units from memory, and these outlive them. Each unit is added once, as it
// ends.
struct UpdateTally {
  // A loader says its own reason codes, which the station does not trust to be few: a port
  // keeps this many apart, and counts the others together under "other".
  static constexpr size_t kMaxReasons = 16;

  std::map<std::string, PortTally> ports;
  std::map<Result, DurationCounts> durations;

  void Add(const Unit& unit);
};

}  // namespace gpsfw::station
