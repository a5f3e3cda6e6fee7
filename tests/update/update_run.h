#pragma once

#include <string>
#include <vector>

#include "sim/receiver.h"
#include "sim/segment.h"
#include "sim/virtual_transport.h"
#include "sim/wire.h"
#include "tests/support/log_capture.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {

// One run of the real loader, command line and all, against the receiver model in virtual
// time.
struct UpdateRun {
  int code = 0;
  std::vector<std::string> log;
  sim::SimResult result;
  std::vector<sim::WireEvent> wire;
  std::string verification;
  double virtualSeconds = 0;
  bool timedOut = false;  // the loader was stopped at the virtual-time limit
};

// A loader still running after this much virtual time is stopped and the run marked
// timedOut: no fault may cost that much.
inline constexpr double kDefaultVirtualLimitSeconds = 3600;

// Runs `gpsfwload -i image -p /dev/gps-sim -l LOG` with "sfld.hex" beside the program when
// `sfldBesideProgram` names an SFLD file.
UpdateRun RunUpdate(const TempDir& dir, const sim::ReceiverConfig& config, const std::string& image,
                    const std::string& sfldBesideProgram = "",
                    double virtualLimitSeconds = kDefaultVirtualLimitSeconds);

// True when `needles` appear in `haystack` in this order (not necessarily adjacent).
bool InOrder(const std::vector<std::string>& haystack, const std::vector<std::string>& needles);
int Count(const std::vector<std::string>& lines, const std::string& line);

}  // namespace gpsfw::test
