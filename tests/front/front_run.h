#pragma once

#include <string>
#include <vector>

#include "front/terminal.h"
#include "sim/receiver.h"
#include "sim/wire.h"
#include "tests/support/log_capture.h"

namespace gpsfw::test {

// Which views a run of the front end writes.
struct FrontViews {
  ConsoleSetup console;  // mode kOff: no console
  bool events = false;
  bool trace = false;
};

// One run of the loader with the front end installed, against the receiver model in virtual
// time; each view's output as text.
struct FrontRun {
  int code = 0;
  std::vector<std::string> log;
  std::string console;
  std::string events;
  std::string trace;
  sim::SimResult result;
  std::vector<sim::WireEvent> wire;
  double virtualSeconds = 0;
};

// `gpsfwload -q -i image -p /dev/gps-sim -l LOG` with --events and --trace into files of
// the directory as the views ask; the console through an observer of the test's own.
FrontRun RunWithFrontEnd(const TempDir& dir, const sim::ReceiverConfig& config,
                         const std::string& image, const FrontViews& views);

// `gpsfwload --check` of `image` as a program of its own: its exit status, its log and
// what it printed.
struct CheckRun {
  int status = 0;
  std::vector<std::string> log;
  std::string report;
};
// "sfld.hex" lies beside the program when `sfldBesideProgram` names an SFLD file; `json`
// adds --json.
CheckRun RunCheck(const TempDir& dir, const std::string& image,
                  const std::string& sfldBesideProgram = "", bool json = false);

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator = "\n");

}  // namespace gpsfw::test
