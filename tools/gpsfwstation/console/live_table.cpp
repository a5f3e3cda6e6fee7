#include "tools/gpsfwstation/console/live_table.h"

#include "tools/gpsfwstation/console/columns.h"
#include "tools/gpsfwstation/console/text_format.h"

namespace gpsfw::station {
namespace {

// Long port paths (by-path links) would leave no room for the progress columns.
constexpr size_t kMaxPortWidth = 32;
constexpr size_t kHeaderLines = 3;
// A line is kept free at the bottom, where the cursor waits.
constexpr size_t kSpareLines = 1;

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
  const TableLayout table(Table::kLive, board, now, kMaxPortWidth);
  const double elapsed = std::chrono::duration<double>(now - board.start).count();
  std::vector<std::string> lines = {
      "gpsfwstation  " + ImageLine(board.image) + "  elapsed " + ClockText(elapsed),
      TotalsLine(board, true), table.TitleRow()};
  const size_t room =
      height > kHeaderLines + kSpareLines + 1 ? height - kHeaderLines - kSpareLines - 1 : 1;
  const size_t rows = board.units.size() <= room + 1 ? board.units.size() : room;
  const std::vector<const Unit*> shown = Shown(board, rows);
  for (const Unit* unit : shown) lines.push_back(table.UnitRow(*unit));
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
