// The pieces of the flash stage against a scripted target in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_line.h"
#include "update/flash_upload.h"
#include "update/session.h"

namespace gpsfw {
namespace {

using test::LogCapture;
using test::ScriptedLine;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMs = 1000;

TEST(EraseProgress, SectorReportsAndTheirEnd) {
  struct Case {
    const char* name;
    Bytes target;
    bool result;
    Lines logged;
  };
  const std::vector<Case> cases = {
      {"three sectors",
       {SECTOR_ERASED_CODE, SECTOR_ERASED_CODE, SECTOR_ERASED_CODE, SYNC_CODE},
       true,
       {"1 sectors erased.", "2 sectors erased.", "3 sectors erased.", "FLASH erasing complete."}},
      {"erase fault",
       {SECTOR_ERASED_CODE, ERASE_FAIL_CODE},
       false,
       {"1 sectors erased.", "Flash erase failure."}},
      {"record error byte is no verdict here",
       {BAD_CSUM},
       false,
       {"Unknown command 0x81.", "FLASH erase failure."}},
      {"unknown byte", {0x0A}, false, {"Unknown command 0x0A.", "FLASH erase failure."}},
  };
  for (const Case& c : cases) {
    LogCapture log;
    ScriptedLine line;
    SerialLink link;
    OpenPort(link, line, L"/dev/ttyFAKE", 115200);
    // A slow erase: the reports come seconds apart, and the host keeps waiting.
    uint32_t delay = 0;
    for (uint8_t b : c.target) line.Arrive({b}, delay += 3000);
    EXPECT_EQ(EraseProgress(link), c.result) << c.name;
    EXPECT_EQ(log.Lines(), c.logged) << c.name;
  }
}

TEST(EraseProgress, CounterWrapsAtSixteenBits) {
  LogCapture log;
  ScriptedLine line;
  SerialLink link;
  OpenPort(link, line, L"/dev/ttyFAKE", 115200);
  for (int i = 0; i < 65537; ++i) line.ArriveAt(i * 100 * kMs, SECTOR_ERASED_CODE);
  line.ArriveAt(65537 * 100 * kMs, SYNC_CODE);
  EXPECT_TRUE(EraseProgress(link));
  const Lines lines = log.Lines();
  ASSERT_EQ(lines.size(), 65538u);
  EXPECT_EQ(lines[65534], "65535 sectors erased.");
  EXPECT_EQ(lines[65535], "0 sectors erased.");
  EXPECT_EQ(lines[65536], "1 sectors erased.");
}

TEST(WakeTarget, WakeSequencesAtBothRatesThenSyncBurstsAtPollRate) {
  LogCapture log;
  ScriptedLine line;
  RunState run;
  OpenPort(run.link, line, L"/dev/ttyFAKE", 57600);
  WakeTarget(run);
  EXPECT_EQ(log.Lines(), Lines{"Waiting for target answer at 19200..."});
  const Bytes wake(WAKE_SEQUENCE, WAKE_SEQUENCE + 7);
  std::vector<std::pair<uint8_t, uint32_t>> sent;
  for (const auto& w : line.written) sent.emplace_back(w.byte, w.baud);
  std::vector<std::pair<uint8_t, uint32_t>> expected;
  for (uint32_t wakeBaud : {4800u, 57600u}) {
    for (uint8_t b : wake) expected.emplace_back(b, wakeBaud);
    for (int i = 0; i < 4; ++i) expected.emplace_back(SYNC_CODE, 19200u);
  }
  EXPECT_EQ(sent, expected);
  // Syncs of one burst 400 ms apart.
  for (size_t burst : {7u, 18u}) {
    for (size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(line.written[burst + i].timeUs - line.written[burst + i - 1].timeUs, 400 * kMs);
    }
  }
  EXPECT_EQ(line.configured.back(), 19200u);
}

}  // namespace
}  // namespace gpsfw

namespace gpsfw {
namespace {

// A receiver that never answers (powered on late, or not at all) is polled without end, and
// woken again after every ten unanswered polls, each time after a quiet gap.
TEST(Session, TargetThatNeverAnswersIsPolledAndWokenAgainForever) {
  LogCapture log;
  ScriptedLine line;
  RunState run;
  OpenPort(run.link, line, L"/dev/ttyFAKE", 57600);
  line.written.clear();
  line.stopAtUs = 600'000 * kMs;
  EXPECT_THROW(RunSession(run), ScriptedLine::Stop);
  const size_t wakeBytes = 2 * (7 + 4);
  const size_t roundBytes = 10 + wakeBytes;
  const size_t rounds = (line.written.size() - wakeBytes) / roundBytes;
  ASSERT_GT(rounds, 15u);
  const Lines logged = log.Lines();
  ASSERT_EQ(logged.size(), 3 + 1 + rounds);
  for (size_t i = 3; i < logged.size(); ++i) {
    EXPECT_EQ(logged[i], "Waiting for target answer at 19200...");
  }
  for (size_t round = 0; round < rounds; ++round) {
    const size_t polls = wakeBytes + round * roundBytes;
    for (size_t i = polls; i < polls + 10; ++i) {
      EXPECT_EQ(line.written[i].byte, SYNC_CODE);
      EXPECT_EQ(line.written[i].baud, 19200u);
    }
    EXPECT_EQ(line.written[polls + 10].byte, WAKE_SEQUENCE[0]);
    // One cycle: the byte, 200 ms, then ReadByte's ten attempts.
    EXPECT_EQ(line.written[polls + 1].timeUs - line.written[polls].timeUs,
              (200 + 10 * (2 + 100)) * kMs);
    // Then at least the quiet gap before the wake sequence.
    EXPECT_GE(line.written[polls + 10].timeUs - line.written[polls + 9].timeUs,
              (200 + 10 * (2 + 100) + 3000) * kMs);
  }
}

}  // namespace
}  // namespace gpsfw

namespace gpsfw {
namespace {

// The times the wake sequence began: its first byte at the application's slower rate.
std::vector<uint64_t> WakeTimes(const ScriptedLine& line) {
  std::vector<uint64_t> times;
  uint32_t previousBaud = 0;
  for (const ScriptedLine::Written& w : line.written) {
    if (w.baud == kWakeBauds[0] && previousBaud != kWakeBauds[0]) times.push_back(w.timeUs);
    previousBaud = w.baud;
  }
  return times;
}

// A receiver whose application chatters at another speed answers every poll with garbled
// bytes, some of which look like the protocol's own (REC_WAIT_CODE, SYNC_CODE, 'D', '$').
// They answer the polls, so the unanswered count never wakes it: the session wakes it again
// once it has gone without progress for its bound, and a stray SYNC_CODE that started a
// flash stage nobody answered starts no other before the next wake-up.
TEST(Session, StrayProtocolBytesForeverStillWakeTheReceiverAgain) {
  LogCapture log;
  ScriptedLine line;
  RunState run;
  OpenPort(run.link, line, L"/dev/ttyFAKE", 57600);
  const uint8_t stray[] = {REC_WAIT_CODE, SYNC_CODE, REC_POLL_CODE, '$'};
  size_t next = 0;
  line.onHostByte = [&](uint8_t) { line.Arrive({stray[next++ % 4]}, 5); };
  line.written.clear();
  line.stopAtUs = 600'000 * kMs;
  EXPECT_THROW(RunSession(run), ScriptedLine::Stop);
  const std::vector<uint64_t> wakes = WakeTimes(line);
  ASSERT_GE(wakes.size(), 6u);
  uint64_t longest = 0;
  for (size_t i = 1; i < wakes.size(); ++i) longest = std::max(longest, wakes[i] - wakes[i - 1]);
  // The bound, plus one stray stage in progress and the quiet gap before the wake.
  EXPECT_LE(longest, kStalledSessionWakeUs + 45'000 * kMs);
  EXPECT_LE(run.flashStages, static_cast<int>(wakes.size()));
}

}  // namespace
}  // namespace gpsfw
