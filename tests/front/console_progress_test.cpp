// What the console shows of whole updates in virtual time: the status line at a given
// width, plain lines for pipes, a line for each retry, the summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "front/console_progress.h"
#include "front/terminal.h"
#include "platform/clock.h"
#include "protocol/link_codes.h"
#include "tests/front/front_run.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

using sim::Stage;

// Terminal columns of one drawn line: escape sequences take none, UTF-8 sequences one.
size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b') {
      while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
      continue;
    }
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

// Everything drawn between carriage returns and line ends.
std::vector<std::string> Drawn(const std::string& console) {
  std::vector<std::string> pieces;
  for (const std::string& line : SplitLines(console)) {
    for (const std::string& piece : SplitLines(line, "\r")) pieces.push_back(piece);
  }
  return pieces;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ConsoleProgressTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    images_ = new ImageFiles(MakeImages(*dir_, 4096, 12 * 1024));
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }
  FrontRun Run(const ConsoleSetup& console,
               const sim::ReceiverConfig& config = sim::ReceiverConfig()) {
    FrontViews views;
    views.console = console;
    return RunWithFrontEnd(runDir, config, images_->container, views);
  }
  TempDir runDir;
  static TempDir* dir_;
  static ImageFiles* images_;
};

TempDir* ConsoleProgressTest::dir_ = nullptr;
ImageFiles* ConsoleProgressTest::images_ = nullptr;

TEST_F(ConsoleProgressTest, LiveStatusLineStaysWithinTheWidthAndReachesAHundredPercent) {
  struct Case {
    int width;
    bool ansi;
    bool colour;
  };
  for (const Case& c : {Case{80, true, true}, Case{80, false, false}, Case{40, true, false}}) {
    ConsoleSetup setup;
    setup.mode = ConsoleMode::kLive;
    setup.width = c.width;
    setup.ansi = c.ansi;
    setup.colour = c.colour;
    const FrontRun run = Run(setup);
    ASSERT_EQ(run.code, 0);
    const std::vector<std::string> lines = SplitLines(run.console);
    ASSERT_EQ(lines.size(), 1u) << "the status line and the summary only";
    const std::vector<std::string> drawn = Drawn(run.console);
    for (size_t i = 0; i + 1 < drawn.size(); ++i) {
      EXPECT_LE(Columns(drawn[i]), static_cast<size_t>(c.width - 1)) << drawn[i];
    }
    EXPECT_EQ(Contains(run.console, "\x1b[K"), c.ansi) << c.width;
    EXPECT_EQ(Contains(run.console, "\x1b[32m"), c.colour) << c.width;
    // A narrow terminal keeps the counters and the time left, without the byte counts.
    const bool wide = c.width >= 80;
    EXPECT_TRUE(Contains(run.console,
                         wide ? "programming 100%  28672/28672 b" : "programming 100%  0:00 left"))
        << c.width;
    EXPECT_TRUE(Contains(run.console, "SFLD upload  record 1/1")) << c.width;
    EXPECT_TRUE(
        Contains(run.console, wide ? "erasing  sectors 5  0x10000000-" : "erasing  sectors 5"))
        << c.width;
    EXPECT_TRUE(Contains(lines.back(),
                         "update complete: fw.bin on /dev/gps-sim in 0:08, 0 retries, 10.1 kB/s "
                         "average"))
        << lines.back();
  }
}

TEST_F(ConsoleProgressTest, PlainLinesOnePerPhaseAndEveryTenPercent) {
  ConsoleSetup setup;
  setup.mode = ConsoleMode::kPlain;
  const FrontRun run = Run(setup);
  EXPECT_FALSE(Contains(run.console, "\r"));
  EXPECT_FALSE(Contains(run.console, "\x1b"));
  std::vector<std::string> texts;
  for (const std::string& line : SplitLines(run.console)) texts.push_back(line.substr(6));
  const std::vector<std::string> phases = {"checking the image",
                                           "waking the receiver (wake-up 1)",
                                           "waiting for the boot loader (wake-up 1)",
                                           "SFLD upload  record 0/1",
                                           "waiting for the SFLD to start",
                                           "asking the SFLD for its version and flash type",
                                           "erasing 0x10000000-0x10007000 (28 KiB)",
                                           "programming   0%  0/28672 bytes"};
  ASSERT_GT(texts.size(), phases.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + phases.size()), phases);
  // 2 KiB records of 28 KiB: each line is the first record at or past the next tenth.
  std::vector<std::string> percents;
  for (size_t i = phases.size(); i + 1 < texts.size(); ++i)
    percents.push_back(texts[i].substr(12, 4));
  EXPECT_EQ(percents, (std::vector<std::string>{" 14%", " 21%", " 35%", " 42%", " 50%", " 64%",
                                                " 71%", " 85%", " 92%", "100%"}));
  EXPECT_EQ(texts.back().rfind("update complete: fw.bin on /dev/gps-sim in 0:08", 0), 0u)
      << texts.back();
}

TEST_F(ConsoleProgressTest, EveryRetryIsALineThatSaysWhatFailedAndWhatComesNext) {
  struct Case {
    const char* name;
    void (*configure)(sim::ReceiverConfig&);
    std::string line;
  };
  const std::vector<Case> cases = {
      {"flash record rejected",
       [](sim::ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kFlash, 3}, BAD_CSUM});
       },
       "record 0x10001800 rejected: BAD_CSUM, repeating the flash stage"},
      {"SFLD record rejected",
       [](sim::ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kSfld, 0}, BAD_LENGTH});
       },
       "record 0x00000000 rejected: BAD_LENGTH, polling the boot loader again"},
      {"end record rejected",
       [](sim::ReceiverConfig& c) {
         c.faults.rejects.push_back({{Stage::kFlash, sim::kEndRecord}, NO_REC_END});
       },
       "end record rejected: NO_REC_END, repeating the flash stage"},
      {"silence before the verdict",
       [](sim::ReceiverConfig& c) {
         c.faults.silences.push_back({{Stage::kSfld, 0}, sim::SilenceWhen::kBeforeVerdict, 40000});
       },
       "record 0x00000000 got no verdict, polling the boot loader again"},
      {"boot-mode echo missing", [](sim::ReceiverConfig& c) { c.faults.missingBootModeEchoes = 1; },
       "flash stage failed, repeating the flash stage"},
  };
  ConsoleSetup setup;
  setup.mode = ConsoleMode::kPlain;
  for (const Case& c : cases) {
    sim::ReceiverConfig config;
    c.configure(config);
    const FrontRun run = Run(setup, config);
    EXPECT_EQ(run.code, 0) << c.name;
    int found = 0;
    int retries = 0;
    for (const std::string& line : SplitLines(run.console)) {
      found += line.substr(6) == c.line;
      retries += Contains(line, ", repeating the flash stage") ||
                 Contains(line, ", polling the boot loader again");
    }
    EXPECT_EQ(found, 1) << c.name << "\n" << run.console;
    const std::string count = std::to_string(retries) + (retries == 1 ? " retry, " : " retries, ");
    EXPECT_TRUE(Contains(SplitLines(run.console).back(), count)) << c.name << "\n" << run.console;
  }
}

// A receiver that sleeps through the first wake-ups: every round of wake-ups shows its own
// number, in the status line as in the plain lines.
TEST_F(ConsoleProgressTest, WakeUpRoundsAreCountedAcrossTheRun) {
  sim::ReceiverConfig config;
  config.faults.powerOnMs = 9000;
  for (ConsoleMode mode : {ConsoleMode::kPlain, ConsoleMode::kLive}) {
    ConsoleSetup setup;
    setup.mode = mode;
    setup.width = 120;
    const FrontRun run = Run(setup, config);
    ASSERT_EQ(run.code, 0);
    const std::vector<std::string> drawn = Drawn(run.console);
    const auto second = std::find_if(drawn.begin(), drawn.end(), [](const std::string& piece) {
      return Contains(piece, "waking the receiver (wake-up 2)");
    });
    ASSERT_NE(second, drawn.end()) << run.console;
    for (auto piece = second; piece != drawn.end(); ++piece) {
      EXPECT_FALSE(Contains(*piece, "wake-up 1")) << *piece;
    }
    EXPECT_NE(std::find_if(second, drawn.end(),
                           [](const std::string& piece) {
                             return Contains(piece, "waiting for the boot loader (wake-up 2)");
                           }),
              drawn.end())
        << run.console;
  }
}

// A clock the test moves by hand.
struct HandClock : platform::Clock {
  uint64_t NowUs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms * 1000ull; }
  uint64_t now = 0;
};

// The console in the waits of an update that does not go on: its clock runs, it says what
// it waits for, a receiver that never answers gets a hint, an update that ends after the
// erase began says the flash is incomplete.
TEST(ConsoleWaits, ClockRunsAndTheConsoleSaysWhatItWaitsFor) {
  HandClock clock;
  platform::InstallClock(&clock);
  TempDir dir;
  const std::string path = dir.File("console");
  std::FILE* out = std::fopen(path.c_str(), "w");
  RunFacts facts;
  facts.port = "/dev/ttyUSB0";
  ConsoleSetup setup;
  setup.mode = ConsoleMode::kLive;
  setup.width = 120;
  {
    ConsoleProgress console(out, setup, facts);
    console.OnPhase(UpdatePhase::kPolling);
    for (int wake = 1; wake <= 4; ++wake) {
      clock.now += 10'000'000;
      console.OnWake(wake);
    }
    const uint8_t answer = SYNC_CODE;
    console.OnWire(WireDirection::kFromTarget, &answer, 1, 19200);
    console.OnWake(5);  // an answer came: no hint for this round
    console.OnPhase(UpdatePhase::kErasing);
    console.OnPhase(UpdatePhase::kProgramming);
    const uint64_t frameEnd = clock.now;
    for (int second = 1; second <= 12; ++second) {
      clock.now = frameEnd + second * 1'000'000ull;
      console.OnWaiting("the verdict on record 0x10002800", frameEnd);
    }
    console.OnDone(-7);
  }
  std::fclose(out);
  platform::InstallClock(nullptr);
  const std::string text = ReadFile(path);
  const std::vector<std::string> drawn = Drawn(text);
  int hints = 0;
  for (const std::string& piece : drawn)
    hints += Contains(piece, "does not answer on /dev/ttyUSB0");
  EXPECT_EQ(hints, 1) << text;
  for (int second = 1; second <= 12; ++second) {
    const std::string wait =
        "waiting for the verdict on record 0x10002800, " + std::to_string(second) + " s";
    EXPECT_TRUE(Contains(text, wait)) << wait << "\n" << text;
  }
  EXPECT_TRUE(Contains(drawn.back(), "flash is incomplete")) << text;
}

// Another program reading the port takes the receiver's answers: the hint names it first.
TEST(ConsoleWaits, NoAnswerHintNamesTheOtherProgramsOnThePort) {
  TempDir dir;
  const std::string path = dir.File("console");
  std::FILE* out = std::fopen(path.c_str(), "w");
  RunFacts facts;
  facts.port = "/dev/ttyUSB0";
  std::snprintf(facts.portHolders, sizeof facts.portHolders, "PID 42 (minicom)");
  ConsoleSetup setup;
  setup.mode = ConsoleMode::kPlain;
  {
    ConsoleProgress console(out, setup, facts);
    console.OnPhase(UpdatePhase::kPolling);
    for (int wake = 1; wake <= 4; ++wake) console.OnWake(wake);
  }
  std::fclose(out);
  EXPECT_TRUE(Contains(ReadFile(path),
                       "the receiver does not answer on /dev/ttyUSB0: PID 42 (minicom) holds the "
                       "port open too and may take its answers; else check its power"))
      << ReadFile(path);
}

TEST(ConsoleDetection, ModeFromTheTerminalAndTheOptions) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  struct Case {
    bool quiet;
    bool progress;
    ConsoleMode mode;
  };
  for (const Case& c :
       {Case{false, false, ConsoleMode::kOff}, Case{false, true, ConsoleMode::kPlain},
        Case{true, true, ConsoleMode::kOff}}) {
    EXPECT_EQ(DetectConsole(pipeEnds[1], c.quiet, c.progress).mode, c.mode)
        << c.quiet << c.progress;
  }
  EXPECT_EQ(TerminalColumns(pipeEnds[1]), kFallbackColumns);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

}  // namespace
}  // namespace gpsfw::test
