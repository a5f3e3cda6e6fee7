#include "tools/gpsfwstation/http/metrics_text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "tools/gpsfwstation/record/row_json.h"

namespace gpsfw::station {
namespace {

constexpr Result kEndedResults[] = {Result::kCompleted, Result::kFailed, Result::kTimedOut,
                                    Result::kStopped};

// One metric's lines, its HELP and TYPE first.
class Family {
 public:
  Family(std::string& out, const std::string& name, const char* type, const char* help)
      : out_(out), name_(name) {
    out_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }

  Family& Label(const char* key, const std::string& value) {
    labels_ +=
        (labels_.empty() ? "" : ",") + std::string(key) + "=\"" + MetricsLabelValue(value) + "\"";
    return *this;
  }
  // Writes one sample with the labels given since the last one; `suffix` for a histogram's.
  void Sample(const std::string& value, const char* suffix = "") {
    out_ += name_ + suffix + (labels_.empty() ? "" : "{" + labels_ + "}") + " " + value + "\n";
    labels_.clear();
  }
  void Sample(uint64_t value, const char* suffix = "") { Sample(std::to_string(value), suffix); }

 private:
  std::string& out_;
  std::string name_;
  std::string labels_;
};

std::string Decimal(double value, const char* format = "%.3f") {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The ports that ended an update or run one now: each has its series from its first start,
// so that a rate sees its first update.
std::set<std::string> PortsOf(const Board& board) {
  std::set<std::string> ports;
  for (const auto& entry : board.tally.ports) ports.insert(entry.first);
  for (const auto& unit : board.units) ports.insert(unit->port);
  return ports;
}

// What a port's ended updates add up to; nothing yet for a port whose first one runs.
const PortTally& TallyOf(const Board& board, const std::string& port) {
  static const PortTally kNone;
  const auto it = board.tally.ports.find(port);
  return it == board.tally.ports.end() ? kNone : it->second;
}

uint64_t EndedWith(const PortTally& tally, Result result) {
  const auto it = tally.ended.find(result);
  return it == tally.ended.end() ? 0 : it->second;
}

void WriteEnded(std::string& out, const Board& board, const std::set<std::string>& ports) {
  Family ended(out, "gpsfwstation_updates_ended_total", "counter",
               "Updates ended since the station started, by result and port.");
  for (const std::string& port : ports) {
    for (Result result : kEndedResults) {
      ended.Label("result", ResultKey(result)).Label("port", port);
      ended.Sample(EndedWith(TallyOf(board, port), result));
    }
  }
  Family failures(out, "gpsfwstation_update_failures_total", "counter",
                  "Updates that did not complete, by port and reason code.");
  for (const auto& [port, tally] : board.tally.ports) {
    for (const auto& [reason, count] : tally.failures) {
      failures.Label("port", port).Label("reason", reason).Sample(count);
    }
  }
}

// Each bucket counts every duration up to its bound: the counts are summed as they go.
void WriteDurations(std::string& out, const Board& board) {
  Family family(out, "gpsfwstation_update_duration_seconds", "histogram",
                "How long the ended updates took, by result.");
  for (Result result : kEndedResults) {
    const auto it = board.tally.durations.find(result);
    const DurationCounts counts = it == board.tally.durations.end() ? DurationCounts{} : it->second;
    uint64_t upTo = 0;
    for (size_t i = 0; i < kDurationBounds.size(); ++i) {
      upTo += counts.counts[i];
      family.Label("result", ResultKey(result)).Label("le", Decimal(kDurationBounds[i], "%g"));
      family.Sample(upTo, "_bucket");
    }
    family.Label("result", ResultKey(result)).Label("le", "+Inf").Sample(counts.count, "_bucket");
    family.Label("result", ResultKey(result)).Sample(Decimal(counts.sum), "_sum");
    family.Label("result", ResultKey(result)).Sample(counts.count, "_count");
  }
}

void WritePortCounts(std::string& out, const Board& board, const std::set<std::string>& ports) {
  Family retries(out, "gpsfwstation_retries_total", "counter",
                 "Retries of the ended updates, by port.");
  for (const std::string& port : ports) {
    retries.Label("port", port).Sample(TallyOf(board, port).retries);
  }
  Family wakes(out, "gpsfwstation_wakeups_total", "counter",
               "Wake-ups sent to the receivers in the ended updates, by port.");
  for (const std::string& port : ports)
    wakes.Label("port", port).Sample(TallyOf(board, port).wakes);
}

void WriteGauge(std::string& out, const char* name, const char* help, uint64_t value) {
  Family(out, name, "gauge", help).Sample(value);
}

void WriteStation(std::string& out, const Board& board) {
  // A unit waiting for its serial has no loader yet: it is waiting, not running.
  const uint64_t running = static_cast<uint64_t>(board.Count().running);
  WriteGauge(out, "gpsfwstation_units_running", "Updates running now.",
             running - std::min<uint64_t>(running, board.awaitingSerial));
  WriteGauge(out, "gpsfwstation_units_waiting",
             "Ports whose receiver is there and whose update has not started yet.", board.waiting);
  WriteGauge(out, "gpsfwstation_record_rows_waiting",
             "Record rows not yet in the database (in the spool or in memory).",
             board.recordWaiting);
  WriteGauge(out, "gpsfwstation_record_rows_unkept",
             "Record rows in memory alone: the database and the spool both failed.",
             board.recordUnkept);
  WriteGauge(out, "gpsfwstation_hooks_failing",
             "Ended updates whose hook failed and has not succeeded since.", board.hooksFailing);
  Family image(out, "gpsfwstation_image_info", "gauge", "The image the station flashes.");
  image.Label("sha256", board.image.sha256).Label("file", board.image.path).Sample(1);
  const double started = std::chrono::duration<double>(board.startWall.time_since_epoch()).count();
  Family(out, "gpsfwstation_start_time_seconds", "gauge",
         "When the station started, in seconds since the Unix epoch.")
      .Sample(Decimal(started));
}

}  // namespace

std::string MetricsLabelValue(const std::string& value) {
  std::string out;
  for (char c : record::CleanText(value)) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string MetricsText(const Board& board) {
  std::string out;
  const std::set<std::string> ports = PortsOf(board);
  WriteEnded(out, board, ports);
  WriteDurations(out, board);
  WritePortCounts(out, board, ports);
  WriteStation(out, board);
  return out;
}

}  // namespace gpsfw::station
