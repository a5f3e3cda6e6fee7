// A station that watches for weeks keeps a bounded board: the oldest ended units go, their
// counts stay.
#include <gtest/gtest.h>

#include "tools/gpsfwstation/console/summary.h"
#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {
namespace {

TEST(BoardBound, OldEndedUnitsLeaveTheirCountsBehind) {
  Board board;
  board.watching = true;
  const size_t ended = Board::kKeptEnded + 50;
  for (size_t i = 0; i < ended + 3; ++i) {
    auto unit = std::make_unique<Unit>();
    unit->port = "gps" + std::to_string(i);
    // Three running units among the oldest: they stay, whatever their age.
    const bool running = i == 0 || i == 7 || i == ended + 2;
    unit->result =
        running ? Result::kRunning : (i % 10 == 3 ? Result::kFailed : Result::kCompleted);
    board.units.push_back(std::move(unit));
  }
  const Totals before = board.Count();
  const std::vector<std::unique_ptr<Unit>> dropped = board.DropOldEnded();
  EXPECT_EQ(dropped.size(), 50u);
  EXPECT_EQ(board.units.size(), Board::kKeptEnded + 3);
  EXPECT_EQ(board.Updates(), ended + 3);
  const Totals after = board.Count();
  EXPECT_EQ(after.completed, before.completed);
  EXPECT_EQ(after.failed, before.failed);
  EXPECT_EQ(after.running, 3);
  EXPECT_EQ(board.units.front()->port, "gps0");  // running, kept
  for (const auto& unit : dropped) EXPECT_NE(unit->result, Result::kRunning);
  EXPECT_TRUE(board.DropOldEnded().empty());
  // The summary counts every update and says which are not listed.
  const std::string summary = SummaryText(board, Clock::now());
  EXPECT_NE(summary.find(std::to_string(ended + 3) + " updates:"), std::string::npos) << summary;
  EXPECT_NE(summary.find("The first 50 ended updates are counted above but not listed"),
            std::string::npos);
}

}  // namespace
}  // namespace gpsfw::station
