#pragma once

#include <string>
#include <vector>

#include "sim/receiver.h"
#include "sim/segment.h"
#include "sim/virtual_transport.h"
#include "sim/wire.h"
#include "tests/support/log_capture.h"

namespace gpsfw::test {

// The parts of a firmware image made with gpsfwimg in a temporary directory.
struct ImageFiles {
  std::string container;  // binary container with SFLD tail
  std::string bare;       // binary container without SFLD tail
  std::string sfld;       // the SFLD as S-record text
  std::string srec;       // the programmed bytes of the container as an S-record image
};

ImageFiles MakeImages(const TempDir& dir, int pfldSize, int fwSize, int sfldSize = 2048);

// One run of the real loader, command line and all, against the receiver model in virtual
// time.
struct UpdateRun {
  int code = 0;
  std::vector<std::string> log;
  sim::SimResult result;
  std::vector<sim::WireEvent> wire;
  std::string verification;
  double virtualSeconds = 0;
};

// Runs `gpsfwload -i image -p /dev/gps-sim -l LOG` with "sfld.hex" beside the program when
// `sfldBesideProgram` names an SFLD file.
UpdateRun RunUpdate(const TempDir& dir, const sim::ReceiverConfig& config, const std::string& image,
                    const std::string& sfldBesideProgram = "");

// True when `needles` appear in `haystack` in this order (not necessarily adjacent).
bool InOrder(const std::vector<std::string>& haystack, const std::vector<std::string>& needles);
int Count(const std::vector<std::string>& lines, const std::string& line);

}  // namespace gpsfw::test
