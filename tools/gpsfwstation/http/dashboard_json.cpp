#include "tools/gpsfwstation/http/dashboard_json.h"
#include "tools/gpsfwstation/record/path_name.h"

#include <fstream>

#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/record/station_liveness.h"
#include "tools/gpsfwstation/record/utc_time.h"
#include "tools/gpsfwstation/run/unit.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

using nlohmann::ordered_json;

ordered_json Yield(int completed, int failed) {
  const int ended = completed + failed;
  return ended == 0 ? ordered_json() : ordered_json(100.0 * completed / ended);
}

// The record's ended units that did not complete: every one of them has its reason counted.
// A unit still running is neither a success nor a failure yet.
int FailedOf(const record::StatsRow& row) {
  int failed = 0;
  for (const auto& reason : row.reasons) failed += reason.second;
  return failed;
}

ordered_json UnitJson(const Unit& unit, const LogTails& tails, Clock::time_point now) {
  const bool ended = unit.result != Result::kRunning;
  ordered_json names = ordered_json::array();
  for (const std::string* name : {&unit.identity.byId, &unit.identity.byPath}) {
    if (!name->empty()) names.push_back(record::CleanText(*name));
  }
  const auto tail = tails.find(&unit);
  ordered_json log = ordered_json::array();
  if (tail != tails.end()) {
    for (const std::string& line : tail->second) log.push_back(record::CleanText(line));
  }
  return {
      {"id",
       unit.recordId.empty() ? unit.port + "#" + std::to_string(unit.connection) : unit.recordId},
      {"port", record::CleanText(unit.port)},
      {"names", names},
      {"serial", record::CleanText(unit.identity.usbSerial)},
      {"unit_serial", record::CleanText(unit.unitSerial)},
      {"connection", unit.connection},
      {"phase", ended ? LastPhase(unit) : unit.progress.phase},
      {"percent", ended ? -1 : unit.progress.Percent()},
      {"rate", ended ? 0.0 : unit.progress.Rate()},
      {"seconds_left", ended ? -1.0 : unit.progress.SecondsLeft()},
      {"retries", unit.progress.retries},
      {"wakes", unit.progress.wakes},
      {"seconds", unit.Seconds(now)},
      {"result", ResultKey(unit.result)},
      {"result_text", ResultText(unit.result)},
      {"reason", ended && unit.result != Result::kCompleted ? record::CleanText(FailureReason(unit))
                                                            : std::string()},
      {"code", ended ? ordered_json(LoaderReturnCode(unit)) : ordered_json()},
      {"log", log},
      {"hook_status", record::CleanText(unit.hookStatus)}};
}

ordered_json NextSerials(const Board& board) {
  ordered_json next = ordered_json::object();
  for (const auto& [port, serial] : board.nextSerials) {
    next[record::CleanText(port)] = record::CleanText(serial);
  }
  return next;
}

}  // namespace

ordered_json StateJson(const Board& board, const DashboardInfo& info, const LogTails& tails,
                       Clock::time_point now) {
  const Totals totals = board.Count();
  ordered_json units = ordered_json::array();
  for (const auto& unit : board.units) units.push_back(UnitJson(*unit, tails, now));
  return {{"station",
           {{"host", record::CleanText(info.host)},
            {"name", info.station.empty() ? ordered_json() : ordered_json(info.station)},
            {"operator", record::CleanText(info.operatorName)},
            {"mode", info.mode},
            {"started", info.started},
            {"elapsed", std::chrono::duration<double>(now - board.start).count()},
            {"stopping", board.stopping},
            {"image_changed", board.imageChanged},
            {"record_unkept", board.recordUnkept},
            {"hooks_failing", board.hooksFailing}}},
          {"image",
           {{"name", record::CleanText(record::BaseName(board.image.path))},
            {"path", record::CleanText(board.image.path)},
            {"size", board.image.size},
            {"crc32", Crc32Text(board.image.crc32)},
            {"sha256", board.image.sha256}}},
          {"totals",
           {{"completed", totals.completed},
            {"failed", totals.failed},
            {"running", totals.running},
            {"yield", Yield(totals.completed, totals.failed)}}},
          {"units", units},
          {"next_serials", NextSerials(board)}};
}

ordered_json ServeStateJson(const DashboardInfo& info, double elapsed,
                            const std::vector<record::StatsRow>& byStation) {
  int completed = 0;
  int failed = 0;
  int running = 0;
  for (const record::StatsRow& row : byStation) {
    completed += row.completed;
    failed += FailedOf(row);
    running += row.total - row.completed - FailedOf(row);
  }
  return {{"station",
           {{"host", record::CleanText(info.host)},
            {"name", info.station.empty() ? ordered_json() : ordered_json(info.station)},
            {"operator", record::CleanText(info.operatorName)},
            {"mode", info.mode},
            {"started", info.started},
            {"elapsed", elapsed},
            {"stopping", false},
            {"image_changed", false},
            {"record_unkept", 0},
            {"hooks_failing", 0}}},
          {"image", nullptr},
          {"totals",
           {{"completed", completed},
            {"failed", failed},
            {"running", running},
            {"yield", Yield(completed, failed)}}},
          {"units", ordered_json::array()}};
}

ordered_json HistoryJson(const std::vector<record::UpdateRow>& rows,
                         const std::vector<PortYield>& perPort, const std::string& source) {
  ordered_json list = ordered_json::array();
  for (const record::UpdateRow& r : rows) {
    const std::string& words = r.message.empty() ? r.reason : r.message;
    list.push_back({{"id", r.id},
                    {"port", record::CleanText(r.port)},
                    {"host", record::CleanText(r.host)},
                    {"station", record::CleanText(r.station)},
                    {"operator", record::CleanText(r.operatorName)},
                    {"result", r.result},
                    {"code", r.result == "running" ? ordered_json() : ordered_json(r.returnCode)},
                    {"reason", record::CleanText(words)},
                    {"start", r.startUtc},
                    {"end", r.endUtc},
                    {"seconds", r.durationSeconds},
                    {"image", record::CleanText(record::BaseName(r.imagePath))},
                    {"sha256", r.imageSha256},
                    {"boot_loader", record::CleanText(r.identity.bootLoader)},
                    {"sfld", record::CleanText(r.identity.sfld)},
                    {"retries", r.retries},
                    {"wakes", r.wakes},
                    {"bytes", r.bytes},
                    {"unit_serial", record::CleanText(r.unitSerial)}});
  }
  ordered_json ports = ordered_json::array();
  for (const PortYield& p : perPort) {
    ports.push_back({{"port", record::CleanText(p.port)},
                     {"completed", p.completed},
                     {"failed", p.failed},
                     {"yield", Yield(p.completed, p.failed)}});
  }
  return {{"source", source}, {"rows", list}, {"per_port", ports}};
}

std::vector<PortYield> YieldOf(const std::vector<record::UpdateRow>& rows) {
  std::vector<PortYield> ports;
  for (const record::UpdateRow& r : rows) {
    if (r.result == "running") continue;
    auto it = std::find_if(ports.begin(), ports.end(),
                           [&](const PortYield& p) { return p.port == r.port; });
    if (it == ports.end()) it = ports.insert(ports.end(), PortYield{r.port, 0, 0});
    ++(r.result == "completed" ? it->completed : it->failed);
  }
  return ports;
}

std::vector<PortYield> YieldOf(const std::vector<record::StatsRow>& byPort) {
  std::vector<PortYield> ports;
  for (const record::StatsRow& row : byPort) {
    ports.push_back({row.key, row.completed, FailedOf(row)});
  }
  return ports;
}

std::vector<std::string> LastLines(const std::string& path, size_t count) {
  constexpr std::streamoff kTail = 16 * 1024;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(size > kTail ? size - kTail : 0);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (size > kTail && !lines.empty()) lines.erase(lines.begin());  // cut in its middle
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - count);
  return lines;
}

ordered_json StationsJson(const std::vector<record::StationRow>& stations,
                          std::chrono::system_clock::time_point now, const std::string& thisHost) {
  ordered_json list = ordered_json::array();
  for (const record::StationRow& s : stations) {
    const record::Liveness live = record::LivenessOf(s, now, thisHost);
    const auto text = [](const std::string& t) {
      return t.empty() ? ordered_json() : ordered_json(record::CleanText(t));
    };
    list.push_back(
        {{"name", record::CleanText(s.station)},
         {"host", record::CleanText(s.host)},
         {"pid", s.pid},
         {"started", s.startUtc},
         {"heartbeat", text(s.heartbeatUtc)},
         {"heard_seconds_ago",
          live.heardSecondsAgo < 0 ? ordered_json() : ordered_json(live.heardSecondsAgo)},
         {"alive", live.alive},
         {"operator", text(s.operatorName)},
         {"image", text(record::BaseName(s.imagePath))},
         {"sha256", text(s.imageSha256)},
         {"completed", s.completed},
         {"failed", s.ended - s.completed},
         {"running", s.running},
         {"yield", Yield(s.completed, s.ended - s.completed)},
         {"last_update", s.lastResult.empty() ? ordered_json()
                                              : ordered_json{{"start", s.lastStartUtc},
                                                             {"end", text(s.lastEndUtc)},
                                                             {"result", s.lastResult}}}});
  }
  return {{"read", record::UtcText(now)}, {"stations", list}};
}

}  // namespace gpsfw::station
