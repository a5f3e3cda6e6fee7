#include "tools/gpsfwstation/console/columns.h"

#include "tools/gpsfwstation/run/unit_row.h"

#include <algorithm>
#include <iterator>

#include "tools/gpsfwstation/console/text_format.h"

namespace gpsfw::station {
namespace {

enum class Align { kLeft, kRight };
// A fixed column keeps its width whatever its cells; a widest one takes the width of the
// widest cell of the board.
enum class Sizing { kFixed, kWidest };

// Which tables show a column.
enum Shown : unsigned {
  kInLive = 1u << static_cast<unsigned>(Table::kLive),
  kInSummary = 1u << static_cast<unsigned>(Table::kSummary),
  kInBoth = kInLive | kInSummary,
};

using CellText = std::string (*)(const Unit& unit, Clock::time_point now);

struct Column {
  const char* title;
  unsigned shown;
  Align align;
  size_t width;   // the least width; a longer cell pushes the rest of its row right
  Sizing sizing;  // a widest column stays within the table's limit
  size_t gap;     // blanks before the column
  CellText cell;
  bool whenUsed = false;  // drawn only when some unit of the board has a cell in it
};

std::string PortCell(const Unit& unit, Clock::time_point) {
  return unit.port;
}

// The unit's own serial number, as the operator reads it off the label.
std::string SerialCell(const Unit& unit, Clock::time_point) {
  return unit.unitSerial;
}

// An ended unit shows its result in place of a phase: the RESULT column at the row's end
// may be cut by a narrow terminal, and a failed unit must never look like a completed one.
std::string PhaseCell(const Unit& unit, Clock::time_point) {
  if (unit.result != Result::kRunning) return ResultText(unit.result);
  return PhaseText(unit.progress.phase);
}

std::string PercentCell(const Unit& unit, Clock::time_point) {
  const int percent = unit.progress.Percent();
  return percent < 0 ? "" : std::to_string(percent) + "%";
}

std::string RateCell(const Unit& unit, Clock::time_point) {
  return RateText(unit.progress.Rate());
}

// An ended unit has nothing left, whatever its last transfer's rate promised.
std::string LeftCell(const Unit& unit, Clock::time_point) {
  return unit.result == Result::kRunning ? ClockText(unit.progress.SecondsLeft()) : "-";
}

std::string TimeCell(const Unit& unit, Clock::time_point now) {
  return ClockText(unit.Seconds(now));
}

std::string DurationCell(const Unit& unit, Clock::time_point now) {
  return SecondsText(unit.Seconds(now));
}

std::string RetriesCell(const Unit& unit, Clock::time_point) {
  return std::to_string(unit.progress.retries);
}

std::string VerdictCell(const Unit& unit, Clock::time_point) {
  return Verdict(unit);
}

// The loader's own return code, as its log's "RetCode" line says: -2, not the exit status 254.
std::string StatusCell(const Unit& unit, Clock::time_point) {
  return std::to_string(LoaderReturnCode(unit));
}

std::string BytesCell(const Unit& unit, Clock::time_point) {
  return std::to_string(BytesOf(unit));
}

std::string LogCell(const Unit& unit, Clock::time_point) {
  return unit.logPath;
}

// Every column of every table, in the order of the rows. The live view keeps the verdict
// last, where a long one runs to the edge of the terminal rather than pushing the progress
// columns; the summary, read after the run, puts it beside the port.
constexpr Column kColumns[] = {
    {"PORT", kInBoth, Align::kLeft, 4, Sizing::kWidest, 2, PortCell},
    {"SERIAL", kInBoth, Align::kLeft, 6, Sizing::kWidest, 2, SerialCell, true},
    {"RESULT", kInSummary, Align::kLeft, 6, Sizing::kWidest, 2, VerdictCell},
    {"CODE", kInSummary, Align::kRight, 4, Sizing::kFixed, 2, StatusCell},
    {"PHASE", kInLive, Align::kLeft, 16, Sizing::kFixed, 2, PhaseCell},
    {"%", kInLive, Align::kRight, 4, Sizing::kFixed, 1, PercentCell},
    {"RATE", kInLive, Align::kRight, 10, Sizing::kFixed, 2, RateCell},
    {"LEFT", kInLive, Align::kRight, 7, Sizing::kFixed, 2, LeftCell},
    {"TIME", kInLive, Align::kRight, 7, Sizing::kFixed, 2, TimeCell},
    {"DURATION", kInSummary, Align::kRight, 9, Sizing::kFixed, 2, DurationCell},
    {"RETRIES", kInBoth, Align::kRight, 7, Sizing::kFixed, 2, RetriesCell},
    {"BYTES", kInSummary, Align::kRight, 8, Sizing::kFixed, 2, BytesCell},
    {"RESULT", kInLive, Align::kLeft, 0, Sizing::kFixed, 2, VerdictCell},
    {"LOG", kInSummary, Align::kLeft, 0, Sizing::kFixed, 2, LogCell},
};
constexpr size_t kColumnCount = std::size(kColumns);

bool Shows(Table table, const Column& column) {
  return (column.shown & (1u << static_cast<unsigned>(table))) != 0;
}

// The last column of a row is never padded: no row ends in blanks of its own.
std::string Fit(const Column& column, const std::string& text, size_t width, bool last) {
  if (last) return text;
  if (text.size() > width && column.sizing == Sizing::kWidest) return FitLeft(text, width);
  if (text.size() >= width) return text;
  const std::string pad(width - text.size(), ' ');
  return column.align == Align::kLeft ? text + pad : pad + text;
}

}  // namespace

TableLayout::TableLayout(Table table, const Board& board, Clock::time_point now, size_t widestLimit)
    : now_(now), widths_(kColumnCount, 0), shown_(kColumnCount, false) {
  for (size_t i = 0; i < kColumnCount; ++i) {
    const Column& column = kColumns[i];
    if (!Shows(table, column)) continue;
    if (column.whenUsed && std::none_of(board.units.begin(), board.units.end(), [&](const auto& u) {
          return !column.cell(*u, now).empty();
        })) {
      continue;
    }
    shown_[i] = true;
    size_t width = column.width;
    if (column.sizing == Sizing::kWidest) {
      for (const auto& unit : board.units) width = std::max(width, column.cell(*unit, now).size());
      width = std::min(width, widestLimit);
    }
    widths_[i] = width;
  }
}

template <typename CellOf>
std::string TableLayout::Row(CellOf cellOf) const {
  size_t last = 0;
  for (size_t i = 0; i < kColumnCount; ++i) {
    if (shown_[i]) last = i;
  }
  std::string row;
  bool first = true;
  for (size_t i = 0; i <= last; ++i) {
    const Column& column = kColumns[i];
    if (!shown_[i]) continue;
    if (!first) row.append(column.gap, ' ');
    first = false;
    row += Fit(column, cellOf(column), widths_[i], i == last);
  }
  return row;
}

std::string TableLayout::TitleRow() const {
  return Row([](const Column& column) { return std::string(column.title); });
}

std::string TableLayout::UnitRow(const Unit& unit) const {
  return Row([&](const Column& column) { return column.cell(unit, now_); });
}

}  // namespace gpsfw::station
