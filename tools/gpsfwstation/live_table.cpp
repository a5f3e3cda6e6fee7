#include "tools/gpsfwstation/live_table.h"

#include <algorithm>
#include <cstdio>

#include "tools/gpsfwstation/text_format.h"

namespace gpsfw::station {
namespace {

constexpr size_t kMinPortWidth = 4;
constexpr size_t kMaxPortWidth = 32;
constexpr size_t kHeaderLines = 3;
// A line is kept free at the bottom, where the cursor waits.
constexpr size_t kSpareLines = 1;

std::string Row(size_t portWidth, const std::string& port, const std::string& phase,
                const std::string& percent, const std::string& rate, const std::string& left,
                const std::string& time, const std::string& retries, const std::string& result) {
  char text[512];
  std::snprintf(text, sizeof text, "%-*s  %-16s %4s  %10s  %7s  %7s  %7s  %s",
                static_cast<int>(portWidth), FitLeft(port, portWidth).c_str(), phase.c_str(),
                percent.c_str(), rate.c_str(), left.c_str(), time.c_str(), retries.c_str(),
                result.c_str());
  return text;
}

std::string UnitRow(const Unit& unit, size_t portWidth, Clock::time_point now) {
  const UnitProgress& p = unit.progress;
  const int percent = p.Percent();
  const bool running = unit.result == Result::kRunning;
  return Row(portWidth, unit.port, PhaseText(p.phase),
             percent < 0 ? "" : std::to_string(percent) + "%", RateText(p.Rate()),
             running ? ClockText(p.SecondsLeft()) : "-", ClockText(unit.Seconds(now)),
             std::to_string(p.retries), Verdict(unit));
}

// Which units get a row when not all fit: the rows keep their order.
std::vector<const Unit*> Shown(const Board& board, size_t rows) {
  std::vector<const Unit*> shown;
  for (const auto& unit : board.units) shown.push_back(unit.get());
  for (auto it = shown.begin(); shown.size() > rows && it != shown.end();) {
    it = (*it)->result == Result::kCompleted ? shown.erase(it) : it + 1;
  }
  if (shown.size() > rows) shown.erase(shown.begin(), shown.end() - static_cast<long>(rows));
  return shown;
}

}  // namespace

std::vector<std::string> LiveLines(const Board& board, Clock::time_point now, size_t width,
                                   size_t height) {
  size_t portWidth = kMinPortWidth;
  for (const auto& unit : board.units) portWidth = std::max(portWidth, unit->port.size());
  portWidth = std::min(portWidth, kMaxPortWidth);

  const double elapsed = std::chrono::duration<double>(now - board.start).count();
  std::vector<std::string> lines = {
      "gpsfwstation  " + ImageLine(board.image) + "  elapsed " + ClockText(elapsed),
      TotalsLine(board, true),
      Row(portWidth, "PORT", "PHASE", "%", "RATE", "LEFT", "TIME", "RETRIES", "RESULT")};
  const size_t room =
      height > kHeaderLines + kSpareLines + 1 ? height - kHeaderLines - kSpareLines - 1 : 1;
  const size_t rows = board.units.size() <= room + 1 ? board.units.size() : room;
  const std::vector<const Unit*> shown = Shown(board, rows);
  for (const Unit* unit : shown) lines.push_back(UnitRow(*unit, portWidth, now));
  if (shown.size() < board.units.size()) {
    lines.push_back("(" + std::to_string(board.units.size() - shown.size()) +
                    " more not shown: the terminal is too short)");
  }
  for (std::string& line : lines) {
    if (line.size() > width) line.resize(width);
  }
  return lines;
}

}  // namespace gpsfw::station
