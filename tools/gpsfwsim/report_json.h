#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/receiver.h"
#include "sim/wire_log.h"
#include "tools/gpsfwsim/pty_unit.h"

namespace gpsfw::simtool {

struct ReportInput {
  const sim::ReceiverConfig* config = nullptr;
  const sim::SimResult* result = nullptr;
  const sim::Verification* verification = nullptr;
  std::string verifiedAgainst;  // the expected image's path, or "" for the data received
  const std::vector<sim::WireRun>* runs = nullptr;
  uint64_t runsDropped = 0;  // earlier runs no longer kept
  double seconds = 0;        // how long the simulator served
  std::string port;          // the path the host opens
  const std::vector<Outage>* outages = nullptr;
  uint32_t adapterLatencyMs = 0;
};

nlohmann::json ReportJson(const ReportInput& input);
// Throws std::runtime_error when the file cannot be written.
void WriteReport(const std::string& path, const nlohmann::json& report);

}  // namespace gpsfw::simtool
