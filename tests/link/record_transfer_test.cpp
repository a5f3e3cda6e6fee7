#include "link/record_transfer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/link_codes.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_line.h"

namespace gpsfw {
namespace {

using test::LogCapture;
using test::ScriptedLine;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMs = 1000;

// A target that asks for the record when announced and answers each complete frame with the
// next scripted reply (the last one repeats).
class ScriptedTarget {
 public:
  ScriptedTarget(ScriptedLine& line, size_t frameLength, std::vector<Bytes> replies)
      : line_(line), frameLength_(frameLength), replies_(std::move(replies)) {
    line_.onHostByte = [this](uint8_t b) { OnHostByte(b); };
  }
  Bytes beforeRecWait;
  bool answerAnnouncement = true;
  int framesSeen = 0;

 private:
  void OnHostByte(uint8_t b) {
    if (received_ == 0 && b == SYNC_CODE && !inFrame_) {
      Bytes reply = beforeRecWait;
      reply.push_back(REC_WAIT_CODE);
      if (answerAnnouncement) line_.Arrive(reply, 1);
      return;
    }
    inFrame_ = true;
    if (++received_ < frameLength_) return;
    received_ = 0;
    const Bytes& reply = replies_[std::min<size_t>(framesSeen, replies_.size() - 1)];
    ++framesSeen;
    line_.Arrive(reply, 2);
  }
  ScriptedLine& line_;
  size_t frameLength_;
  std::vector<Bytes> replies_;
  size_t received_ = 0;
  bool inFrame_ = false;
};

class RecordTransferTest : public ::testing::Test {
 protected:
  RecordTransferTest() : packet(std::make_unique<RecordPacket>()) {
    *packet = RecordPacket{};
    Reset(*packet);
    const uint16_t data[] = {0x01, 0x02, 0x03};
    Append(*packet, 0x10004000, 3, data);
    Seal(*packet);
    OpenPort(port, line, L"/dev/ttyFAKE", 19200);
    line.written.clear();
    line.sleeps.clear();
  }
  Bytes Frame() const { return Bytes(packet->frame, packet->frame + packet->length); }
  int FramesWritten() const {
    const Bytes all = line.WrittenBytes();
    const Bytes frame = Frame();
    int n = 0;
    for (auto it = all.begin();
         (it = std::search(it, all.end(), frame.begin(), frame.end())) != all.end(); ++it) {
      ++n;
    }
    return n;
  }

  LogCapture log;
  ScriptedLine line;
  std::unique_ptr<RecordPacket> packet;
  SerialLink port;
};

TEST_F(RecordTransferTest, AcceptedRecordIsAnnouncedSentAndLogged) {
  ScriptedTarget target(line, packet->length, {{SYNC_CODE}});
  target.beforeRecWait = {0x00, 0x24};
  EXPECT_TRUE(SendRecordChecked(port, *packet).Accepted());
  Bytes expected{SYNC_CODE};
  const Bytes frame = Frame();
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(line.WrittenBytes(), expected);
  EXPECT_EQ(line.sleeps.front(), 20u);
  EXPECT_EQ(log.Lines(), Lines{"Address:0x10004000."});
}

TEST_F(RecordTransferTest, EndAndEraseRecordsLogTheirAddress) {
  MakeEndRecord(*packet);
  {
    ScriptedTarget target(line, packet->length, {{SYNC_CODE}});
    EXPECT_TRUE(SendRecord(port, *packet));
  }
  MakeEraseRecord(*packet, 0x10000000, 0x10020000);
  ScriptedTarget target(line, packet->length, {{SYNC_CODE}});
  EXPECT_TRUE(SendRecord(port, *packet));
  EXPECT_EQ(log.Lines(), (Lines{"Address:0x00000000.", "Address:0x10000000."}));
}

TEST_F(RecordTransferTest, EachRejectionIsLoggedThenRecoveryEndsOnRecWait) {
  const std::vector<std::pair<uint8_t, std::string>> rejections = {
      {BAD_CSUM, "ERROR: BAD_CSUM"},       {BAD_LENGTH, "ERROR: BAD_LENGTH"},
      {BAD_COMMAND, "ERROR: BAD_COMMAND"}, {RECORD_TIMEOUT, "ERROR: RECORD_TIMEOUT"},
      {NO_REC_END, "ERROR: NO_REC_END"},
  };
  for (const auto& [code, message] : rejections) {
    LogCapture caseLog;
    ScriptedLine caseLine;
    SerialLink casePort;
    OpenPort(casePort, caseLine, L"/dev/ttyFAKE", 19200);
    ScriptedTarget target(caseLine, packet->length, {{code, REC_WAIT_CODE}});
    EXPECT_FALSE(SendRecordChecked(casePort, *packet).Accepted()) << message;
    EXPECT_EQ(caseLog.Lines(), (Lines{message, "Repeat Sending Record."}));
    EXPECT_EQ(caseLine.WrittenBytes().size(), 1u + packet->length) << "no resend, no SYNC";
  }
}

// The verdict is the caller's to report: how the exchange ended and the target's byte.
TEST_F(RecordTransferTest, VerdictTellsHowTheExchangeEnded) {
  struct Case {
    const char* name;
    bool announced;
    Bytes reply;
    RecordOutcome outcome;
    uint8_t byte;
  };
  const std::vector<Case> cases = {
      {"accepted", true, {0x24, SYNC_CODE}, RecordOutcome::kAccepted, SYNC_CODE},
      {"rejected", true, {BAD_LENGTH, REC_WAIT_CODE}, RecordOutcome::kRejected, BAD_LENGTH},
      {"never asked for", false, {SYNC_CODE}, RecordOutcome::kNoRequest, 0},
      {"no verdict", true, {}, RecordOutcome::kNoVerdict, 0},
  };
  for (const Case& c : cases) {
    LogCapture caseLog;
    ScriptedLine caseLine;
    SerialLink casePort;
    OpenPort(casePort, caseLine, L"/dev/ttyFAKE", 19200);
    ScriptedTarget target(caseLine, packet->length, {c.reply});
    target.answerAnnouncement = c.announced;
    const RecordVerdict verdict = SendRecordChecked(casePort, *packet);
    EXPECT_EQ(verdict.outcome, c.outcome) << c.name;
    EXPECT_EQ(verdict.byte, c.byte) << c.name;
    EXPECT_EQ(verdict.Accepted(), c.outcome == RecordOutcome::kAccepted) << c.name;
  }
}

TEST_F(RecordTransferTest, UnknownBytesBeforeTheVerdictAreIgnored) {
  ScriptedTarget target(line, packet->length,
                        {{0x84, 0x86, 0x87, 0x89, 0x00, 0x24, ERASE_FAIL_CODE, SYNC_CODE}});
  EXPECT_TRUE(SendRecord(port, *packet));
  EXPECT_EQ(log.Lines(), Lines{"Address:0x10004000."});
}

TEST_F(RecordTransferTest, RecWaitFloodResendsTheFrameOncePerFurtherRecWait) {
  const Bytes flood(201, REC_WAIT_CODE);
  struct Case {
    int recWaits;
    std::vector<Bytes> replies;  // one per frame the target receives
  };
  Bytes tolerated(200, REC_WAIT_CODE);
  tolerated.push_back(SYNC_CODE);
  const std::vector<Case> cases = {
      {200, {tolerated}},
      {201, {flood, {SYNC_CODE}}},
      {202, {flood, {REC_WAIT_CODE}, {SYNC_CODE}}},
  };
  for (const Case& c : cases) {
    LogCapture caseLog;
    ScriptedLine caseLine;
    SerialLink casePort;
    OpenPort(casePort, caseLine, L"/dev/ttyFAKE", 19200);
    ScriptedTarget target(caseLine, packet->length, c.replies);
    EXPECT_TRUE(SendRecord(casePort, *packet)) << c.recWaits;
    const size_t resends = c.replies.size() - 1;
    Lines expected(resends, "REC_WAIT break");
    expected.push_back("Address:0x10004000.");
    EXPECT_EQ(caseLog.Lines(), expected) << c.recWaits;
    EXPECT_EQ(caseLine.WrittenBytes().size(), 1u + (1 + resends) * packet->length) << c.recWaits;
  }
}

TEST_F(RecordTransferTest, NoRecWaitFailsSilentlyAfterAboutOneSecond) {
  ScriptedTarget target(line, packet->length, {{SYNC_CODE}});
  target.answerAnnouncement = false;
  EXPECT_FALSE(SendRecord(port, *packet));
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(line.WrittenBytes(), Bytes{SYNC_CODE});
}

// Neither silence nor a babbling target holds the verdict wait past its limit.
TEST_F(RecordTransferTest, SilenceAfterTheFrameEndsTheWaitAtItsLimit) {
  ScriptedTarget target(line, packet->length, {{}});
  EXPECT_FALSE(SendRecord(port, *packet));
  EXPECT_GE(line.now(), 32'000 * kMs);
  EXPECT_LT(line.now(), 34'000 * kMs);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(RecordTransferTest, StrayBytesDoNotProlongTheVerdictWait) {
  ScriptedTarget target(line, packet->length, {{}});
  for (uint64_t t = 100; t < 60'000; t += 250) line.ArriveAt(t * kMs, 0x24);
  EXPECT_FALSE(SendRecord(port, *packet));
  EXPECT_GE(line.now(), 32'000 * kMs);
  EXPECT_LT(line.now(), 34'000 * kMs);
}

TEST_F(RecordTransferTest, RecoveryAnswersStrayBytesWithSync) {
  ScriptedTarget target(line, packet->length, {{BAD_CSUM}});
  line.onHostByte = [&, inner = line.onHostByte](uint8_t b) {
    inner(b);
    if (line.WrittenBytes().size() == 1u + packet->length) {
      line.Arrive({'A'}, 150);
      line.Arrive({REC_WAIT_CODE}, 450);
    }
  };
  EXPECT_FALSE(SendRecordChecked(port, *packet).Accepted());
  EXPECT_EQ(log.Lines(), (Lines{"ERROR: BAD_CSUM", "Repeat Sending Record.", "Rcv:0 A"}));
  EXPECT_EQ(line.WrittenBytes().back(), SYNC_CODE);
}

// A receiver that went away (reset in mid-record) is not waited for a thousand cycles.
TEST_F(RecordTransferTest, RecoveryOnSilentLineEndsAfterFiveSeconds) {
  ScriptedTarget target(line, packet->length, {{BAD_LENGTH}});
  EXPECT_FALSE(SendRecordChecked(port, *packet).Accepted());
  EXPECT_GE(line.now(), 5'000 * kMs);
  EXPECT_LT(line.now(), 7'500 * kMs);
}

}  // namespace
}  // namespace gpsfw
