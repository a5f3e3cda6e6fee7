// What the station makes of a loader's event stream, and its verdict on an ended unit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/gpsfwstation/run/unit.h"
#include "tools/gpsfwstation/run/unit_progress.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

constexpr char kStart[] =
    R"({"t":0.01,"type":"start","image":"fw.bin","image_type":"binary","start":"0x10000000",)"
    R"("entry":"0x10000000","size":8192,"erase_start":"0x10000000","erase_end":"0x10002000",)"
    R"("records":4,"bytes":8192,"sfld_source":"tail","sfld_path":"/tmp/x/sfld_tmp.hex",)"
    R"("sfld_records":1,"sfld_bytes":512,"port":"/dev/ttyUSB0"})";

std::string Phase(double t, const char* phase) {
  return R"({"t":)" + std::to_string(t) + R"(,"type":"phase","phase":")" + phase + R"("})";
}

std::string Record(double t, const char* stage, int index, int bytes, const char* verdict,
                   int attempt) {
  return R"({"t":)" + std::to_string(t) + R"(,"type":"record","stage":")" + stage +
         R"(","kind":"data","index":)" + std::to_string(index) +
         R"(,"address":"0x10000000","bytes":)" + std::to_string(bytes) + R"(,"verdict":")" +
         verdict + R"(","attempt":)" + std::to_string(attempt) + "}";
}

UnitProgress Play(const std::vector<std::string>& lines) {
  UnitProgress progress;
  for (const std::string& line : lines) ApplyEvent(progress, line);
  return progress;
}

struct ProgressCase {
  const char* name;
  std::vector<std::string> lines;
  const char* phase;
  int percent;
  double rate;
  double left;
  int retries;
};

TEST(UnitProgress, PercentRateAndTimeLeftOfTheTransferUnderWay) {
  const std::vector<ProgressCase> cases = {
      {"before any record", {kStart, Phase(1, "waking")}, "waking", -1, 0, -1, 0},
      {"SFLD upload half way",
       {kStart, Phase(2, "sfld_upload"), Record(3, "sfld", 0, 256, "accepted", 1)},
       "sfld_upload",
       50,
       256,
       1,
       0},
      {"programming, a rejected record does not count",
       {kStart, Phase(10, "programming"), Record(11, "flash", 0, 2048, "accepted", 1),
        Record(12, "flash", 1, 2048, "BAD_CSUM", 1)},
       "programming",
       25,
       2048,
       3,
       0},
      {"a new flash attempt starts from nothing",
       {kStart, Phase(10, "programming"), Record(11, "flash", 0, 2048, "accepted", 1),
        Record(12, "flash", 1, 2048, "BAD_CSUM", 1),
        R"({"t":12.1,"type":"retry","what":"record","next":"flash stage again"})",
        Phase(13, "erasing"), Phase(14, "programming"), Record(16, "flash", 0, 2048, "accepted", 2),
        Record(18, "flash", 1, 2048, "accepted", 2)},
       "programming",
       50,
       1024,
       4,
       1},
      {"done with code 0 is whole; the rate stays the last transfer's",
       {kStart, Phase(10, "programming"), Record(11, "flash", 0, 2048, "accepted", 1),
        Phase(12, "done"),
        R"({"t":12,"type":"done","code":0,"duration":12,"bytes":8192,"retries":3})"},
       "done",
       100,
       2048,
       -1,
       3},
      {"lines that are no events change nothing",
       {kStart, Phase(2, "polling"), "not json", R"({"t":"x","type":"phase"})", "[1,2]",
        R"({"t":3,"type":"phase"})"},
       "polling",
       -1,
       0,
       -1,
       0},
  };
  for (const ProgressCase& c : cases) {
    const UnitProgress p = Play(c.lines);
    EXPECT_EQ(p.phase, c.phase) << c.name;
    EXPECT_EQ(p.Percent(), c.percent) << c.name;
    EXPECT_DOUBLE_EQ(p.Rate(), c.rate) << c.name;
    EXPECT_NEAR(p.SecondsLeft(), c.left, 1e-9) << c.name;
    EXPECT_EQ(p.retries, c.retries) << c.name;
  }
  EXPECT_EQ(Play(cases.back().lines).badLines, 4);
}

TEST(UnitEvents, EveryPhaseOfAReadIsSeenAndLinesMaySpanReads) {
  Unit unit;
  std::vector<std::string> seen;
  const auto note = [&] { seen.push_back(unit.progress.phase); };
  const std::string two = Phase(0, "preparing") + "\n" + Phase(0.1, "waking") + "\n";
  TakeEvents(unit, two + Phase(2, "poll").substr(0, 20), note);
  TakeEvents(unit, Phase(2, "polling").substr(20) + "\n", note);
  EXPECT_EQ(seen, (std::vector<std::string>{"preparing", "waking", "polling"}));
  // An endless line is dropped as one bad line, without holding its bytes.
  TakeEvents(unit, std::string(200000, 'x'), note);
  TakeEvents(unit, std::string(200000, 'x') + "\n" + Phase(3, "sfld_upload") + "\n", note);
  EXPECT_EQ(unit.progress.badLines, 1);
  EXPECT_EQ(unit.progress.phase, "sfld_upload");
  EXPECT_TRUE(unit.pendingLine.empty());
}

// A loader that could not keep its log still flashed its receiver: the unit completes, the
// station says the loss at once, once, and the row carries it beside its result.
TEST(UnitEvents, ALostLogIsSaidOnceAndKeptInTheCompletedRow) {
  Unit unit;
  unit.port = "/dev/ttyUSB3";
  const std::string lost =
      R"({"t":4.2,"type":"output_lost","output":"log","path":"/logs/gps3.log",)"
      R"("message":"No space left on device"})";
  const std::string done =
      R"({"t":9.1,"type":"done","code":0,"duration":9.1,"bytes":8192,"retries":0,)"
      R"("log_complete":false,"identity":{}})";
  testing::internal::CaptureStderr();
  TakeEvents(unit, lost + "\n" + lost + "\n" + done + "\n", [] {});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "gpsfwstation: /dev/ttyUSB3: the loader could not write the progress log "
            "/logs/gps3.log: No space left on device\n");
  unit.status = 0;
  unit.result = Decide(unit);
  ASSERT_EQ(unit.result, Result::kCompleted);
  Board board;
  board.image.path = "fw.bin";
  const record::UpdateRow row = RowOf(unit, board, RecordContext());
  EXPECT_EQ(row.result, "completed");
  EXPECT_EQ(row.reason, "");
  EXPECT_EQ(row.message,
            "the loader's progress log is incomplete: the progress log /logs/gps3.log: No space "
            "left on device");
}

struct VerdictCase {
  int status;
  bool done;
  int doneCode;
  bool timedOut;
  bool stopped;
  Result result;
  const char* reason;
};

TEST(UnitVerdict, CompleteOnlyWithExitZeroAndADoneEventOfCodeZero) {
  const VerdictCase cases[] = {
      {0, true, 0, false, false, Result::kCompleted, ""},
      // Completed just as its time ran out or a stop came: the receiver has its firmware.
      {0, true, 0, true, false, Result::kCompleted, ""},
      {0, true, 0, false, true, Result::kCompleted, ""},
      {0, false, 0, false, false, Result::kFailed, "no completion reported"},
      {0, true, -3, false, false, Result::kFailed, "no completion reported"},
      {254, true, -2, false, false, Result::kFailed, "port"},
      {253, true, -3, false, false, Result::kFailed, "image"},
      {127, false, 0, false, false, Result::kFailed, "loader not found"},
      {137, false, 0, false, false, Result::kFailed, "signal 9"},
      {143, true, -7, true, false, Result::kTimedOut, "signal 15"},
      {143, true, -7, false, true, Result::kStopped, "signal 15"},
  };
  for (const VerdictCase& c : cases) {
    Unit unit;
    unit.status = c.status;
    unit.progress.done = c.done;
    unit.progress.doneCode = c.doneCode;
    unit.timedOut = c.timedOut;
    unit.stopped = c.stopped;
    EXPECT_EQ(Decide(unit), c.result) << c.status;
    if (c.result != Result::kCompleted) {
      EXPECT_EQ(FailureReason(unit), c.reason) << c.status;
    }
  }
}

}  // namespace
}  // namespace gpsfw::station
