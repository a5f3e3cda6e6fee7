// gpsfwsim: the receiver model served on a pseudo-terminal, for the demo, the end-to-end
// tests and anyone who wants to try the loader without hardware.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sim/expected_image.h"
#include "sim/receiver.h"
#include "sim/verification.h"
#include "tools/gpsfwsim/pty_link.h"
#include "tools/gpsfwsim/pty_server.h"
#include "tools/gpsfwsim/report_json.h"
#include "tools/gpsfwsim/sim_options.h"

namespace gpsfw::simtool {
namespace {

void PrintEvent(const sim::SimEvent& event) {
  std::fprintf(stderr, "gpsfwsim: %10.6f %s\n", sim::NsToSeconds(event.timeNs), event.text.c_str());
}

int ExitStatus(const SimOptions& options, const sim::SimResult& result, bool verified) {
  if (result.updateCompleted) return verified ? kExitOk : kExitNotVerified;
  return options.once ? kExitNoUpdate : kExitOk;
}

int Serve(const SimOptions& options) {
  std::vector<sim::Segment> expected;
  if (!options.expect.empty()) expected = sim::LoadExpectedImage(options.expect);
  sim::Receiver receiver(options.config);
  CatchStopSignals();
  PtyLink link(options.link);
  std::cout << "gpsfwsim: serving on " << link.PortPath() << " (" << link.SlavePath() << ")"
            << std::endl;
  PtyServer server(link, receiver);
  ServeOptions serve;
  serve.once = options.once;
  serve.timeLimitSeconds = options.timeLimitSeconds;
  if (options.verbose) serve.onEvent = PrintEvent;
  server.Run(serve);

  const sim::SimResult result = receiver.Result();
  const sim::Verification verification =
      sim::VerifyFlash(receiver.GetFlash(), options.expect.empty() ? result.programmed : expected);
  std::cout << (result.updateCompleted ? verification.text : "no update completed") << std::endl;
  if (!options.report.empty()) {
    ReportInput input;
    input.config = &options.config;
    input.result = &result;
    input.verification = &verification;
    input.verifiedAgainst = options.expect;
    input.runs = &server.Runs();
    input.seconds = sim::NsToSeconds(server.Now());
    WriteReport(options.report, ReportJson(input));
  }
  return ExitStatus(options, result, verification.verified);
}

}  // namespace
}  // namespace gpsfw::simtool

int main(int argc, char** argv) {
  using namespace gpsfw::simtool;
  SimOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "gpsfwsim: " << e.what() << " (see 'gpsfwsim --help')\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << UsageText();
    return kExitOk;
  }
  try {
    return Serve(options);
  } catch (const std::exception& e) {
    std::cerr << "gpsfwsim: " << e.what() << "\n";
    return kExitSetup;
  }
}
