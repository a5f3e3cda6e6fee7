// The console driven call by call on a clock the test moves: the status line at the widths
// terminals have, the time stamp of every line of its own, the long waits in a pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "front/console_progress.h"
#include "front/console_text.h"
#include "platform/clock.h"
#include "tests/front/front_run.h"
#include "tests/support/log_capture.h"

namespace gpsfw::test {
namespace {

struct HandClock : platform::Clock {
  uint64_t NowUs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms * 1000ull; }
  uint64_t now = 0;
};

// A console of one mode and width on the hand clock, its output in a file.
class ConsoleLines : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstallClock(&clock); }
  void TearDown() override { platform::InstallClock(nullptr); }

  ConsoleProgress& Open(ConsoleMode mode, int width = 80) {
    facts.port = "/dev/ttyUSB0";
    facts.flash.records = 14;
    facts.flash.bytes = 28672;
    ConsoleSetup setup;
    setup.mode = mode;
    setup.width = width;
    out_ = std::fopen(dir_.File("console").c_str(), "w");
    console_ = std::make_unique<ConsoleProgress>(out_, setup, facts);
    return *console_;
  }
  // What the console wrote: lines, and within a line what was drawn between returns.
  std::vector<std::string> Drawn() {
    console_.reset();
    std::fclose(out_);
    std::vector<std::string> pieces;
    for (const std::string& line : SplitLines(ReadFile(dir_.File("console")))) {
      for (const std::string& piece : SplitLines(line, "\r")) {
        if (!piece.empty() && piece.find_first_not_of(' ') != std::string::npos) {
          pieces.push_back(piece.substr(0, piece.find_last_not_of(' ') + 1));
        }
      }
    }
    return pieces;
  }
  // Half of the image programmed, a record a second.
  void ProgramHalf(ConsoleProgress& console) {
    console.OnPhase(UpdatePhase::kProgramming);
    for (int index = 0; index < 7; ++index) {
      RecordReport record;
      record.index = index;
      record.dataBytes = 2048;
      clock.now += 1'000'000;
      console.OnRecord(record);
    }
  }

  HandClock clock;
  RunFacts facts;

 private:
  TempDir dir_;
  std::FILE* out_ = nullptr;
  std::unique_ptr<ConsoleProgress> console_;
};

TEST_F(ConsoleLines, ANarrowTerminalDropsWholeFieldsTheLeastUsefulFirst) {
  struct Case {
    int width;
    const char* line;
  };
  const std::vector<Case> cases = {
      {80, "0:07  programming  50%  14336/28672 bytes  2.0 kB/s  18% of line  0:07 left"},
      {60, "0:07  programming  50%  14336/28672 bytes  0:07 left"},
      {40, "0:07  programming  50%  0:07 left"},
      {20, "programming  50%  0"},  // what must stay is cut only when it alone is too wide
  };
  for (const Case& c : cases) {
    clock.now = 0;
    ProgramHalf(Open(ConsoleMode::kLive, c.width));
    EXPECT_EQ(Drawn().back(), c.line) << c.width;
  }
}

// The wait says the run is alive: it stays before the clock and the byte counts, which fill
// what room it leaves.
TEST_F(ConsoleLines, AWaitUnderWayOutranksTheClockAndTheByteCounts) {
  struct Case {
    int width;
    const char* line;
  };
  const std::vector<Case> cases = {
      {80, "programming  50%  0:19 left  waiting for the verdict on record 0x10003800, 12 s"},
      {60, "0:19  programming  50%  14336/28672 bytes  0:19 left"},
  };
  for (const Case& c : cases) {
    clock.now = 0;
    ConsoleProgress& console = Open(ConsoleMode::kLive, c.width);
    ProgramHalf(console);
    const uint64_t since = clock.now;
    clock.now += 12'000'000;
    console.OnWaiting("the verdict on record 0x10003800", since);
    EXPECT_EQ(Drawn().back(), c.line) << c.width;
  }
}

TEST_F(ConsoleLines, EveryLineOfItsOwnCarriesTheTimeOnATerminalAsInAPipe) {
  for (ConsoleMode mode : {ConsoleMode::kPlain, ConsoleMode::kLive}) {
    clock.now = 0;
    ConsoleProgress& console = Open(mode, 120);
    console.OnPhase(UpdatePhase::kProgramming);
    clock.now = 7'000'000;
    console.OnRetry("flash stage failed", "repeating the flash stage");
    clock.now = 9'000'000;
    console.OnLineError(0x8);
    console.OnDone(0);
    std::vector<std::string> lines;
    for (const std::string& piece : Drawn()) {
      if (piece.find("programming") == std::string::npos) lines.push_back(piece);
    }
    ASSERT_EQ(lines.size(), 3u) << static_cast<int>(mode);
    EXPECT_EQ(lines[0], "0:07  flash stage failed, repeating the flash stage");
    EXPECT_EQ(lines[1].substr(0, 18), "0:09  line error 0");
    // The summary holds its own duration.
    EXPECT_NE(lines[2].find("update complete: /dev/ttyUSB0 in 0:09"), std::string::npos)
        << lines[2];
  }
}

// In a pipe a long wait is told after 5 s, then at every 10 s; a new wait starts afresh.
TEST_F(ConsoleLines, APipeIsToldOfALongWait) {
  ConsoleProgress& console = Open(ConsoleMode::kPlain);
  console.OnPhase(UpdatePhase::kProgramming);
  for (const char* what :
       {"the verdict on record 0x10002800", "the verdict on record 0x10003000"}) {
    const uint64_t since = clock.now;
    for (int second = 1; second <= 26; ++second) {
      clock.now = since + second * 1'000'000ull;
      console.OnWaiting(what, since);
    }
    clock.now += 500'000;
  }
  std::vector<std::string> waits;
  for (const std::string& line : Drawn()) {
    if (line.find("waiting for") != std::string::npos) waits.push_back(line);
  }
  EXPECT_EQ(waits, (std::vector<std::string>{
                       "0:05  waiting for the verdict on record 0x10002800, 5 s",
                       "0:10  waiting for the verdict on record 0x10002800, 10 s",
                       "0:20  waiting for the verdict on record 0x10002800, 20 s",
                       "0:31  waiting for the verdict on record 0x10003000, 5 s",
                       "0:36  waiting for the verdict on record 0x10003000, 10 s",
                       "0:46  waiting for the verdict on record 0x10003000, 20 s",
                   }));
}

}  // namespace
}  // namespace gpsfw::test
