#include "tools/gpsfwstation/summary.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/gpsfwstation/station_options.h"
#include "tools/gpsfwstation/text_format.h"

namespace gpsfw::station {
namespace {

std::string PadRight(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

struct Widths {
  size_t port = 4;
  size_t result = 6;
};

// Port paths and log paths may be as long as the platform allows: no fixed buffer.
std::string SummaryRow(const Widths& widths, const std::string& port, const std::string& result,
                       const std::string& code, const std::string& duration,
                       const std::string& retries, const std::string& bytes,
                       const std::string& log) {
  return PadRight(port, widths.port) + "  " + PadRight(result, widths.result) + "  " +
         PadLeft(code, 4) + "  " + PadLeft(duration, 9) + "  " + PadLeft(retries, 7) + "  " +
         PadLeft(bytes, 8) + "  " + log + "\n";
}

uint64_t BytesOf(const Unit& unit) {
  return unit.progress.done ? unit.progress.doneBytes : unit.progress.flashDone;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string FailedLines(const Board& board) {
  std::string failed;
  std::string messages;
  for (const auto& unit : board.units) {
    if (unit->result == Result::kCompleted) continue;
    const std::string why =
        unit->result == Result::kFailed ? FailureReason(*unit) : ResultText(unit->result);
    failed += (failed.empty() ? "Failed: " : ", ") + unit->port + " (" + why + ", code " +
              std::to_string(unit->status) + ")";
    const std::string& said = unit->startError.empty() ? unit->messages : unit->startError;
    if (!said.empty()) messages += unit->port + ": " + said + (said.back() == '\n' ? "" : "\n");
  }
  return failed.empty() ? "" : failed + "\n" + messages;
}

nlohmann::ordered_json UnitJson(const Unit& unit) {
  nlohmann::ordered_json entry = {
      {"port", unit.port},
      {"result", ResultKey(unit.result)},
      {"exit_status", unit.status},
      {"return_code", nullptr},
      {"start", IsoTime(unit.startWall)},
      {"end", IsoTime(unit.endWall)},
      {"duration", unit.Seconds({})},
      {"bytes", BytesOf(unit)},
      {"retries", unit.progress.retries},
      {"wakes", unit.progress.wakes},
      {"last_phase", unit.progress.phase},
      {"log", unit.logPath},
      {"connection", unit.connection},
      {"cpu_seconds", unit.loader.CpuSeconds()},
  };
  if (unit.progress.done) entry["return_code"] = unit.progress.doneCode;
  if (unit.result != Result::kCompleted) entry["reason"] = FailureReason(unit);
  if (!unit.messages.empty()) entry["messages"] = unit.messages;
  if (!unit.startError.empty()) entry["messages"] = unit.startError;
  return entry;
}

// The station's own CPU time, without its loaders': what watching many ports costs.
double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return CpuSeconds(usage);
}

}  // namespace

int ExitStatusOf(const Board& board) {
  const int units = static_cast<int>(board.units.size());
  return board.Count().completed == units && units >= board.expected ? kExitOk : kExitFailed;
}

std::string IsoTime(WallClock::time_point time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

std::string SummaryText(const Board& board, Clock::time_point now) {
  Widths widths;
  for (const auto& unit : board.units) {
    widths.port = std::max(widths.port, unit->port.size());
    widths.result = std::max(widths.result, Verdict(*unit).size());
  }
  const double elapsed = std::chrono::duration<double>(now - board.start).count();
  std::string text = "Summary: " + ImageLine(board.image) + "\n" + TotalsLine(board, false) + ", " +
                     Seconds(elapsed) + "\n";
  text += SummaryRow(widths, "PORT", "RESULT", "CODE", "DURATION", "RETRIES", "BYTES", "LOG");
  for (const auto& unit : board.units) {
    text += SummaryRow(widths, unit->port, Verdict(*unit), std::to_string(unit->status),
                       Seconds(unit->Seconds(now)), std::to_string(unit->progress.retries),
                       std::to_string(BytesOf(*unit)), unit->logPath);
  }
  return text + FailedLines(board);
}

nlohmann::ordered_json ReportJson(const Board& board, Clock::time_point now) {
  const Totals totals = board.Count();
  nlohmann::ordered_json units = nlohmann::ordered_json::array();
  for (const auto& unit : board.units) units.push_back(UnitJson(*unit));
  const WallClock::time_point endWall =
      board.startWall + std::chrono::duration_cast<WallClock::duration>(now - board.start);
  return {
      {"image",
       {{"path", board.image.path},
        {"size", board.image.size},
        {"crc32", Hex32(board.image.crc32)}}},
      {"start", IsoTime(board.startWall)},
      {"end", IsoTime(endWall)},
      {"duration", std::chrono::duration<double>(now - board.start).count()},
      {"totals",
       {{"updates", board.units.size()},
        {"completed", totals.completed},
        {"failed", totals.failed},
        {"running", totals.running}}},
      {"exit_status", ExitStatusOf(board)},
      {"cpu_seconds", OwnCpuSeconds()},
      {"ports", units},
  };
}

void CheckReportPath(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  if (std::filesystem::is_directory(target) || access(folder.c_str(), W_OK | X_OK) != 0) {
    throw std::runtime_error("cannot write the report " + path);
  }
}

void WriteReport(const std::string& path, const nlohmann::ordered_json& report) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::trunc);
    // Port names and the loaders' messages may hold any bytes: they are not refused, a
    // byte that is no UTF-8 becomes U+FFFD.
    out << report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write the report " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write the report " + path);
  }
}

}  // namespace gpsfw::station
