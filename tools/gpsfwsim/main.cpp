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

void PrintUnitEvent(const PtyUnit& unit, const sim::SimEvent& event) {
  std::fprintf(stderr, "gpsfwsim: unit %d %10.6f %s\n", unit.Index(),
               sim::NsToSeconds(event.timeNs), event.text.c_str());
}

// What one receiver ended with.
struct Outcome {
  sim::SimResult result;
  sim::Verification verification;
};

Outcome Conclude(const SimOptions& options, PtyUnit& unit,
                 const std::vector<sim::Segment>& expected) {
  Outcome outcome{unit.GetReceiver().Result(), {}};
  outcome.verification = sim::VerifyFlash(
      unit.GetReceiver().GetFlash(), options.expect.empty() ? outcome.result.programmed : expected);
  const std::string text =
      outcome.result.updateCompleted ? outcome.verification.text : "no update completed";
  if (options.counted) {
    std::cout << "gpsfwsim: unit " << unit.Index() << " (" << unit.PortPath() << "): " << text
              << std::endl;
  } else {
    std::cout << text << std::endl;
  }
  return outcome;
}

nlohmann::json UnitReport(const SimOptions& options, PtyUnit& unit, const Outcome& outcome,
                          double seconds) {
  ReportInput input;
  input.config = &options.units[size_t(unit.Index())];
  input.result = &outcome.result;
  input.verification = &outcome.verification;
  input.verifiedAgainst = options.expect;
  input.runs = &unit.Runs();
  input.runsDropped = unit.RunsDropped();
  input.seconds = seconds;
  input.port = unit.PortPath();
  input.outages = &unit.Outages();
  input.adapterLatencyMs = options.adapterLatencyMs;
  nlohmann::json report = ReportJson(input);
  if (options.counted) report["unit"] = unit.Index();
  return report;
}

int ExitStatus(const SimOptions& options, const std::vector<Outcome>& outcomes) {
  bool allCompleted = true;
  for (const Outcome& outcome : outcomes) {
    if (outcome.result.updateCompleted && !outcome.verification.verified) return kExitNotVerified;
    allCompleted = allCompleted && outcome.result.updateCompleted;
  }
  return options.once && !allCompleted ? kExitNoUpdate : kExitOk;
}

int Serve(const SimOptions& options, const std::vector<sim::Segment>& expected) {
  CatchStopSignals();
  std::vector<std::unique_ptr<PtyUnit>> units;
  for (size_t k = 0; k < options.units.size(); ++k) {
    units.emplace_back(new PtyUnit(
        static_cast<int>(k), options.links[k], options.units[k],
        options.verbose ? PtyUnit::EventSink(options.counted ? PrintUnitEvent : PrintEvent)
                        : nullptr,
        options.adapterLatencyMs));
    std::cout << "gpsfwsim: serving on " << units.back()->PortPath() << " ("
              << units.back()->SlavePath() << ")" << std::endl;
  }
  PtyServer server(units);
  ServeOptions serve;
  serve.once = options.once;
  serve.timeLimitSeconds = options.timeLimitSeconds;
  server.Run(serve);

  const double seconds = sim::NsToSeconds(server.Now());
  std::vector<Outcome> outcomes;
  nlohmann::json reports = nlohmann::json::array();
  for (auto& unit : units) {
    outcomes.push_back(Conclude(options, *unit, expected));
    if (!options.report.empty()) {
      reports.push_back(UnitReport(options, *unit, outcomes.back(), seconds));
    }
  }
  if (!options.report.empty()) {
    WriteReport(options.report, options.counted ? nlohmann::json{{"units", reports}} : reports[0]);
  }
  return ExitStatus(options, outcomes);
}

}  // namespace
}  // namespace gpsfw::simtool

int main(int argc, char** argv) {
  using namespace gpsfw::simtool;
  SimOptions options;
  std::vector<gpsfw::sim::Segment> expected;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.help && !options.version && !options.expect.empty()) {
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
  if (options.version) {
    std::cout << "gpsfwsim " << GPSFW_VERSION << "\n";
    return kExitOk;
  }
  try {
    return Serve(options, expected);
  } catch (const std::exception& e) {
    std::cerr << "gpsfwsim: " << e.what() << "\n";
    return kExitSetup;
  }
}
