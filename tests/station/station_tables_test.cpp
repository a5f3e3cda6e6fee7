// The columns of the live table and of the summary, byte for byte: operators' scripts read
// the summary, and a shifted column in the live view garbles every row under it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/gpsfwstation/console/live_table.h"
#include "tools/gpsfwstation/console/summary.h"

namespace gpsfw::station {
namespace {

constexpr char kLongPort[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0";

Unit& AddUnit(Board& board, const std::string& port, Result result, int status) {
  auto unit = std::make_unique<Unit>();
  unit->port = port;
  unit->logPath = "logs/" + std::to_string(board.units.size()) + ".log";
  unit->start = board.start;
  unit->end = board.start + std::chrono::seconds(30);
  unit->result = result;
  unit->status = status;
  board.units.push_back(std::move(unit));
  return *board.units.back();
}

// One unit programming, one completed on a port longer than the live column, one failed
// while it waited for the SFLD, one timed out before its first phase.
Board MixedBoard() {
  Board board;
  board.image.path = "fw.bin";
  board.image.size = 262144;
  board.image.crc32 = 0x1A2B3C4D;
  board.start = Clock::now();
  UnitProgress& running = AddUnit(board, "gps0", Result::kRunning, -1).progress;
  running.phase = "programming";
  running.transferSince = 1;
  running.transferLastT = 5;
  running.transferDone = 40960;
  running.transferTotal = 262144;
  running.flashDone = 40960;
  running.retries = 2;
  UnitProgress& completed = AddUnit(board, kLongPort, Result::kCompleted, 0).progress;
  completed.phase = "done";
  completed.done = true;
  completed.doneBytes = 262144;
  UnitProgress& failed = AddUnit(board, "gps2", Result::kFailed, 254).progress;
  failed.phase = "waiting_for_sfld";
  failed.retries = 11;
  AddUnit(board, "gps3", Result::kTimedOut, 143);
  return board;
}

TEST(StationTables, LiveRowsKeepTheirColumns) {
  const Board board = MixedBoard();
  const std::vector<std::string> expected = {
      "gpsfwstation  fw.bin, 262144 bytes, CRC-32 1a2b3c4d  elapsed 1:15",
      "4 updates: 1 completed, 2 failed, 1 running",
      "PORT                              PHASE               %        RATE     LEFT     TIME  "
      "RETRIES  RESULT",
      "gps0                              programming       15%  10.0 KiB/s     0:22     1:15  "
      "      2  ",
      // An ended unit shows its result where its phase was.
      "..00:00:14.0-usb-0:1.4:1.0-port0  completed        100%           -        -     0:30  "
      "      0  completed",
      "gps2                              failed                          -        -     0:30  "
      "     11  failed: port (-2)",
      "gps3                              timed out                       -        -     0:30  "
      "      0  timed out (143)",
  };
  EXPECT_EQ(LiveLines(board, board.start + std::chrono::seconds(75), 200, 24), expected);
}

TEST(StationTables, SummaryRowsKeepTheirColumns) {
  const Board board = MixedBoard();
  const std::string expected =
      "Summary: fw.bin, 262144 bytes, CRC-32 1a2b3c4d\n"
      "4 updates: 1 completed, 2 failed, 1 running, 75.0 s\n"
      "PORT                                                      RESULT             CODE   "
      "DURATION  RETRIES     BYTES  LOG\n"
      "gps0                                                                           -1     "
      "75.0 s        2     40960  logs/0.log\n"
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0  completed             0     "
      "30.0 s        0    262144  logs/1.log\n"
      "gps2                                                      failed: port (-2)    -2     "
      "30.0 s       11         0  logs/2.log\n"
      "gps3                                                      timed out (143)     143     "
      "30.0 s        0         0  logs/3.log\n"
      "Failed: gps0 (running, code -1), gps2 (port, code -2), gps3 (timed out, code 143)\n";
  EXPECT_EQ(SummaryText(board, board.start + std::chrono::seconds(75)), expected);
}

// The unit's serial comes after the port once some unit has one; a unit whose serial
// command failed says why, with no loader's code.
TEST(StationTables, ASerialColumnOnceSomeUnitHasOne) {
  Board board;
  board.image.path = "fw.bin";
  board.start = Clock::now();
  AddUnit(board, "gps0", Result::kCompleted, 0).unitSerial = "SN 4711";
  Unit& unnamed = AddUnit(board, "gps1", Result::kFailed, -1);
  unnamed.serialError = "the serial command exited with 3";
  unnamed.logPath.clear();
  const std::string text = SummaryText(board, board.start + std::chrono::seconds(30));
  EXPECT_NE(text.find("PORT  SERIAL   RESULT"), std::string::npos) << text;
  EXPECT_NE(text.find("gps0  SN 4711  completed"), std::string::npos) << text;
  EXPECT_NE(text.find("gps1           failed: the serial command exited with 3"), std::string::npos)
      << text;
  EXPECT_EQ(SummaryText(MixedBoard(), Clock::now()).find("SERIAL"), std::string::npos);
}

}  // namespace
}  // namespace gpsfw::station
