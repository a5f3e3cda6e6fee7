#include "tools/gpsfwsim/report_json.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "protocol/link_codes.h"

namespace gpsfw::simtool {
namespace {

using nlohmann::json;

// Bytes of a run shown in the report; the count says how many there were.
constexpr size_t kRunBytesShown = 32;
constexpr int kIndent = 2;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Hex8(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

json RecordIndex(int index) {
  if (index == sim::kEndRecord) return "end";
  if (index == sim::kEraseRecord) return "erase";
  return index;
}

json Phases(const std::vector<sim::Phase>& phases) {
  json list = json::array();
  for (const sim::Phase& phase : phases) {
    list.push_back({{"name", phase.name},
                    {"baud", phase.baud},
                    {"start", sim::NsToSeconds(phase.startNs)},
                    {"end", sim::NsToSeconds(phase.endNs)}});
  }
  return list;
}

json Sfld(const sim::SimResult& result) {
  json segments = json::array();
  for (const sim::Segment& segment : result.sfld) {
    segments.push_back({{"address", Hex32(segment.address)}, {"length", segment.bytes.size()}});
  }
  return {{"uploads", result.sfldUploads},
          {"starts", result.sfldStarts},
          {"bytes", sim::SegmentBytes(result.sfld)},
          {"segments", segments}};
}

json Records(const sim::SimResult& result) {
  json list = json::array();
  for (const sim::RecordEntry& record : result.records) {
    list.push_back({{"stage", sim::StageName(record.stage)},
                    {"attempt", record.attempt},
                    {"index", RecordIndex(record.index)},
                    {"address", Hex32(record.address)},
                    {"bytes", record.dataBytes},
                    {"verdict", Hex8(record.verdict)},
                    {"reason", record.reason},
                    {"time", sim::NsToSeconds(record.timeNs)}});
  }
  json counts = json::object();
  for (sim::Stage stage : {sim::Stage::kSfld, sim::Stage::kFlash}) {
    counts[sim::StageName(stage)] = {{"accepted", result.Accepted(stage)},
                                     {"rejected", result.Rejected(stage)}};
  }
  return {{"counts", counts}, {"list", list}};
}

json Erases(const sim::SimResult& result) {
  json list = json::array();
  for (const sim::EraseEntry& erase : result.erases) {
    list.push_back({{"start", Hex32(erase.start)},
                    {"end", Hex32(erase.end)},
                    {"first_sector", erase.firstSector},
                    {"sectors", erase.sectors},
                    {"sectors_erased", erase.sectorsErased},
                    {"failed", erase.failed},
                    {"time", sim::NsToSeconds(erase.timeNs)}});
  }
  return list;
}

json FlashFaults(const sim::SimResult& result) {
  json list = json::array();
  for (const sim::FlashFault& fault : result.flashFaults) {
    list.push_back({{"kind", sim::FlashFaultName(fault.kind)},
                    {"address", Hex32(fault.address)},
                    {"length", fault.length},
                    {"time", sim::NsToSeconds(fault.timeNs)}});
  }
  return list;
}

json Events(const sim::SimResult& result) {
  json list = json::array();
  for (const sim::SimEvent& event : result.events) {
    list.push_back({{"time", sim::NsToSeconds(event.timeNs)}, {"text", event.text}});
  }
  return list;
}

json Verification(const ReportInput& input) {
  const sim::Verification& v = *input.verification;
  return {{"verified", v.verified},
          {"against", input.verifiedAgainst.empty() ? "data received" : input.verifiedAgainst},
          {"bytes_matched", v.matched},
          {"first_difference", v.verified ? json() : json(Hex32(v.firstDifference))},
          {"text", v.text}};
}

json Outages(const std::vector<Outage>& outages) {
  json list = json::array();
  for (const Outage& outage : outages) {
    list.push_back(
        {{"gone", sim::NsToSeconds(outage.goneNs)},
         {"back", outage.backNs == sim::kNever ? json() : json(sim::NsToSeconds(outage.backNs))},
         {"power_cycle", outage.powerCycle}});
  }
  return list;
}

json Line(const std::vector<sim::WireRun>& runs) {
  json list = json::array();
  for (const sim::WireRun& run : runs) {
    const size_t shown = std::min(run.bytes.size(), kRunBytesShown);
    list.push_back(
        {{"direction", run.direction == sim::Direction::kHostToTarget ? "host" : "receiver"},
         {"sender_baud", run.senderBaud},
         {"receiver_baud", run.receiverBaud},
         {"start", sim::NsToSeconds(run.startNs)},
         {"end", sim::NsToSeconds(run.endNs)},
         {"count", run.count},
         {"garbled", run.garbled},
         {"bytes",
          sim::HexBytes(std::vector<uint8_t>(run.bytes.begin(), run.bytes.begin() + shown))}});
  }
  return list;
}

json Config(const sim::ReceiverConfig& config, uint32_t adapterLatencyMs) {
  uint64_t size = 0;
  for (const sim::SectorRegion& region : config.flash.regions) {
    size += uint64_t{region.count} * region.size;
  }
  return {{"power_on_baud", config.powerOnBaud},
          {"power_on_ms", config.faults.powerOnMs},
          {"chatter", config.chatter},
          {"nmea", config.nmea.baud == 0
                       ? json()
                       : json{{"baud", config.nmea.baud}, {"period_ms", config.nmea.periodMs}}},
          {"flash_base", Hex32(config.flash.base)},
          {"flash_size", size},
          {"boot_loader_version", config.bootLoaderVersion},
          {"sfld_version", config.sfldVersion},
          {"adapter_latency_ms", adapterLatencyMs}};
}

}  // namespace

json ReportJson(const ReportInput& input) {
  const sim::SimResult& result = *input.result;
  return {{"port", input.port},
          {"completed", result.updateCompleted},
          {"completed_updates", result.completedUpdates},
          {"completed_at", sim::NsToSeconds(result.completedNs)},
          {"seconds", input.seconds},
          {"verification", Verification(input)},
          {"phases", Phases(result.phases)},
          {"sfld", Sfld(result)},
          {"flash_attempts", result.flashAttempts},
          {"records", Records(result)},
          {"erases", Erases(result)},
          {"flash_faults", FlashFaults(result)},
          {"events", Events(result)},
          {"outages", input.outages ? Outages(*input.outages) : json::array()},
          {"boot_loader_polls", result.bootLoaderPolls},
          {"line_runs_dropped", input.runsDropped},
          {"line", Line(*input.runs)},
          {"config", Config(*input.config, input.adapterLatencyMs)}};
}

void WriteReport(const std::string& path, const json& report) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  // Version texts may hold any bytes; they are written with replacement characters.
  out << report.dump(kIndent, ' ', false, json::error_handler_t::replace) << "\n";
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace gpsfw::simtool
