#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// The tables that show one row per unit. Which columns each shows, in which order, how wide
// and how a cell is drawn is one table of columns in columns.cpp.
enum class Table { kLive, kSummary };

// The columns of one table laid out for a board: a column sized to its widest cell takes
// its width from every unit of the board, shown or not, so that rows do not shift as units
// scroll in and out of view.
class TableLayout {
 public:
  // A column sized to its widest cell takes at most `widestLimit` bytes; a longer cell is
  // cut at its start (port paths differ at their end).
  TableLayout(Table table, const Board& board, Clock::time_point now, size_t widestLimit);

  std::string TitleRow() const;
  std::string UnitRow(const Unit& unit) const;

 private:
  template <typename CellOf>
  std::string Row(CellOf cellOf) const;

  Clock::time_point now_;
  std::vector<size_t> widths_;  // per column of the table of columns; 0 where not shown
  std::vector<bool> shown_;     // per column: drawn in this table, for this board
};

}  // namespace gpsfw::station
