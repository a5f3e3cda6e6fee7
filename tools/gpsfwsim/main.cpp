// gpsfwsim: the receiver model served on a pseudo-terminal, for the demo, the end-to-end
// tests and anyone who wants to try the loader without hardware.
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/expected_image.h"
#include "sim/receiver.h"
#include "sim/verification.h"
#include "tools/gpsfwsim/pty_server.h"
#include "tools/gpsfwsim/pty_unit.h"
#include "tools/gpsfwsim/report_json.h"
#include "tools/gpsfwsim/sim_options.h"

namespace gpsfw::simtool {
namespace {

void PrintEvent(const PtyUnit& unit, const sim::SimEvent& event) {
  std::fprintf(stderr, "gpsfwsim: %10.6f %s\n", sim::NsToSeconds(event.timeNs), event.text.c_str());
  (void)unit;
}

int ExitStatus(const SimOptions& options, const sim::SimResult& result, bool verified) {
  if (result.updateCompleted) return verified ? kExitOk : kExitNotVerified;
  return options.once ? kExitNoUpdate : kExitOk;
}

int Serve(const SimOptions& options, const std::vector<sim::Segment>& expected) {
  CatchStopSignals();
  std::vector<std::unique_ptr<PtyUnit>> units;
  units.emplace_back(new PtyUnit(0, options.link, options.config,
                                 options.verbose ? PtyUnit::EventSink(PrintEvent) : nullptr));
  PtyUnit& unit = *units[0];
  std::cout << "gpsfwsim: serving on " << unit.PortPath() << " (" << unit.SlavePath() << ")"
            << std::endl;
  PtyServer server(units);
  ServeOptions serve;
  serve.once = options.once;
  serve.timeLimitSeconds = options.timeLimitSeconds;
  server.Run(serve);

  const sim::SimResult result = unit.GetReceiver().Result();
  const sim::Verification verification = sim::VerifyFlash(
      unit.GetReceiver().GetFlash(), options.expect.empty() ? result.programmed : expected);
  std::cout << (result.updateCompleted ? verification.text : "no update completed") << std::endl;
  if (!options.report.empty()) {
    ReportInput input;
    input.config = &options.config;
    input.result = &result;
    input.verification = &verification;
    input.verifiedAgainst = options.expect;
    input.runs = &unit.Runs();
    input.runsDropped = unit.RunsDropped();
    input.seconds = sim::NsToSeconds(server.Now());
    input.port = unit.PortPath();
    input.outages = &unit.Outages();
    WriteReport(options.report, ReportJson(input));
  }
  return ExitStatus(options, result, verification.verified);
}

}  // namespace
}  // namespace gpsfw::simtool

int main(int argc, char** argv) {
  using namespace gpsfw::simtool;
  SimOptions options;
  std::vector<gpsfw::sim::Segment> expected;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.help && !options.expect.empty()) {
      try {
        expected = gpsfw::sim::LoadExpectedImage(options.expect);
      } catch (const std::exception& e) {
        throw UsageError("--expect: " + std::string(e.what()));
      }
    }
  } catch (const UsageError& e) {
    std::cerr << "gpsfwsim: " << e.what() << " (see 'gpsfwsim --help')\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << UsageText();
    return kExitOk;
  }
  try {
    return Serve(options, expected);
  } catch (const std::exception& e) {
    std::cerr << "gpsfwsim: " << e.what() << "\n";
    return kExitSetup;
  }
}
