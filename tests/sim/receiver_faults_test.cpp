// Each injectable fault shows on the wire the way the host must meet it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "link/record_transfer.h"
#include "protocol/link_codes.h"
#include "sim/wire_log.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kSfldBase = 0x20000000;

ReceiverConfig WithFaults(const Faults& faults) {
  ReceiverConfig config;
  config.faults = faults;
  return config;
}

// Boot loader asked for the SFLD; `records` data records of 16 bytes are tried in turn.
std::vector<int> Upload(SimHost& host, int records) {
  std::vector<int> verdicts;
  for (int i = 0; i < records; ++i) {
    verdicts.push_back(host.Record(DataRecord(kSfldBase + 16 * i, Pattern(16))));
  }
  return verdicts;
}

TEST(ReceiverFaults, RejectsARecordOnceOrAlways) {
  for (bool always : {false, true}) {
    SCOPED_TRACE(always);
    Faults faults;
    faults.rejects.push_back({{Stage::kSfld, 1}, BAD_LENGTH, always});
    SimHost host(WithFaults(faults));
    host.Wake();
    host.Ask(PFLD_VER_CODE);
    EXPECT_THAT(Upload(host, 2), ElementsAre(SYNC_CODE, BAD_LENGTH));
    // The host starts the upload again; record 1 of the new attempt.
    host.Collect(50);
    EXPECT_THAT(host.Ask(PFLD_VER_CODE), ElementsAre(REC_WAIT_CODE));
    EXPECT_THAT(Upload(host, 2), ElementsAre(SYNC_CODE, always ? BAD_LENGTH : SYNC_CODE));
    EXPECT_EQ(host.Result().sfldUploads, 2);
  }
}

TEST(ReceiverFaults, FloodsRecWaitUntilTheHostSendsTheFrameAgain) {
  Faults faults;
  faults.floods.push_back({{Stage::kSfld, 0}, 201});
  SimHost host(WithFaults(faults));
  host.Wake();
  host.Ask(PFLD_VER_CODE);
  EXPECT_TRUE(SendRecord(host.link, DataRecord(kSfldBase, Pattern(40))));
  const std::vector<uint8_t> frame = [] {
    const RecordPacket packet = DataRecord(kSfldBase, Pattern(40));
    return std::vector<uint8_t>(packet.frame, packet.frame + packet.length);
  }();
  size_t recWaits = 0;
  size_t frames = 0;
  for (const WireRun& run : GroupRuns(host.transport.Wire())) {
    if (run.direction == Direction::kTargetToHost) {
      recWaits +=
          static_cast<size_t>(std::count(run.bytes.begin(), run.bytes.end(), REC_WAIT_CODE));
    } else if (run.bytes == frame) {
      ++frames;
    }
  }
  EXPECT_EQ(recWaits, 1u + 1u + 201u);  // the 'E' poll, the announcement, the flood
  EXPECT_EQ(frames, 2u);
  EXPECT_EQ(host.Result().Accepted(Stage::kSfld), 1);
}

TEST(ReceiverFaults, FallsSilentBeforeAVerdictOrBeforeRecWait) {
  for (SilenceWhen when : {SilenceWhen::kBeforeVerdict, SilenceWhen::kBeforeRecWait}) {
    Faults faults;
    faults.silences.push_back({{Stage::kSfld, 0}, when, 1500});
    SimHost host(WithFaults(faults));
    host.Wake();
    host.Ask(PFLD_VER_CODE);
    const SimTime start = host.Now();
    host.Send(SYNC_CODE);
    if (when == SilenceWhen::kBeforeVerdict) {
      EXPECT_THAT(host.Collect(20), ElementsAre(REC_WAIT_CODE));
      const RecordPacket packet = DataRecord(kSfldBase, {1, 2, 3, 4});
      host.Send(packet);
    }
    EXPECT_TRUE(host.Collect(1000).empty());
    host.Send(SYNC_CODE);  // lost: nobody listens
    const std::vector<uint8_t> late = host.Collect(1000);
    EXPECT_THAT(late, ElementsAre(when == SilenceWhen::kBeforeVerdict ? SYNC_CODE : REC_WAIT_CODE));
    EXPECT_GE(host.transport.Wire().back().endNs - start, MsToNs(1500));
  }
}

TEST(ReceiverFaults, AbandonsAnEraseWithTheChosenByte) {
  for (uint8_t byte : {ERASE_FAIL_CODE, BAD_CSUM}) {
    Faults faults;
    faults.eraseFaults.push_back({2, byte});
    SimHost host(WithFaults(faults));
    host.ToFlashCommands();
    EXPECT_THAT(host.Erase(0x10000000, 0x10004000),
                ElementsAre(SYNC_CODE, SECTOR_ERASED_CODE, SECTOR_ERASED_CODE, byte));
    // The SFLD is back at 19200; the next erase goes through.
    host.Baud(19200);
    EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
    host.Baud(115200);
    EXPECT_EQ(host.Erase(0x10000000, 0x10004000).back(), SYNC_CODE);
    const SimResult result = host.Result();
    ASSERT_EQ(result.erases.size(), 2u);
    EXPECT_TRUE(result.erases[0].failed);
    EXPECT_EQ(result.erases[0].sectorsErased, 2u);
    EXPECT_FALSE(result.erases[1].failed);
  }
}

TEST(ReceiverFaults, LeavesBootModeOrEraseUnansweredOnce) {
  for (bool bootMode : {true, false}) {
    Faults faults;
    (bootMode ? faults.missingBootModeEchoes : faults.missingEraseSyncs) = 1;
    SimHost host(WithFaults(faults));
    host.ToFlashCommands();
    const std::vector<uint8_t> command = bootMode ? std::vector<uint8_t>{BOOT_MODE_CODE}
                                                  : std::vector<uint8_t>{SYNC_CODE, ERASE_CODE};
    host.Send(command);
    EXPECT_TRUE(host.Collect(1000).empty());
    host.Baud(19200);
    EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
    host.Baud(115200);
    host.Send(command);
    EXPECT_THAT(host.Collect(50), ElementsAre(bootMode ? BOOT_MODE_CODE : SYNC_CODE));
  }
}

TEST(ReceiverFaults, RejectsTheEndRecordOfTheFlashStage) {
  Faults faults;
  faults.rejects.push_back({{Stage::kFlash, kEndRecord}, NO_REC_END, false});
  SimHost host(WithFaults(faults));
  host.ToFlashCommands();
  host.Erase(0x10000000, 0x10001000);
  EXPECT_EQ(host.Record(DataRecord(0x10000000, Pattern(64))), SYNC_CODE);
  EXPECT_EQ(host.Record(EndRecord()), NO_REC_END);
  EXPECT_FALSE(host.Result().updateCompleted);
}

// --faults-for: a receiver that rejects a record at every attempt for a while, then takes it.
TEST(ReceiverFaults, PlannedFaultsStopOnceTheirTimeIsOver) {
  Faults faults;
  faults.rejects.push_back({{Stage::kSfld, 0}, BAD_LENGTH, true});
  faults.faultsForMs = 5000;
  SimHost host(WithFaults(faults));
  host.Wake();
  host.Ask(PFLD_VER_CODE);
  ASSERT_LT(host.Now(), MsToNs(4000));
  EXPECT_THAT(Upload(host, 1), ElementsAre(BAD_LENGTH));
  // The host starts the upload again before the faults' time is over (the version query
  // listens 200 ms), and after.
  for (uint8_t verdict : {BAD_LENGTH, SYNC_CODE}) {
    host.Collect(static_cast<uint32_t>((MsToNs(verdict == SYNC_CODE ? 5000 : 4500) - host.Now()) /
                                       kNsPerMs));
    EXPECT_THAT(host.Ask(PFLD_VER_CODE), ElementsAre(REC_WAIT_CODE));
    EXPECT_THAT(Upload(host, 1), ElementsAre(verdict));
  }
}

TEST(ReceiverFaults, ResetsAfterARecordIntoTheApplicationOrTheBootLoader) {
  for (ResetTo to : {ResetTo::kApplication, ResetTo::kBootLoader}) {
    Faults faults;
    faults.resets.push_back({{Stage::kFlash, 0}, to});
    SimHost host(WithFaults(faults));
    host.ToFlashCommands();
    host.Erase(0x10000000, 0x10001000);
    EXPECT_EQ(host.Record(DataRecord(0x10000000, Pattern(64))), SYNC_CODE);
    host.Collect(20);
    if (to == ResetTo::kApplication) {
      EXPECT_STREQ(host.receiver.StateName(), "application");
      EXPECT_EQ(host.receiver.ListenBaud(), 57600u);
    } else {
      host.Baud(19200);
      EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
    }
  }
}

TEST(ReceiverFaults, AnswersWithTheConfiguredTexts) {
  ReceiverConfig config;
  config.sfldVersion = "xx$VER \x01" + std::string(300, 'v');
  config.typeReplyOverride = {0x00, TYPE_QUERY_CODE, 0xFF};
  SimHost host(config);
  host.ToFlashCommands();
  EXPECT_EQ(host.Ask(VER_QUERY_CODE, 500), Bytes(config.sfldVersion));
  EXPECT_EQ(host.Ask(TYPE_QUERY_CODE), config.typeReplyOverride);
}

TEST(ReceiverFaults, ChattersOnceASecondAtThePowerOnRate) {
  ReceiverConfig config;
  config.chatter = true;
  config.powerOnBaud = 4800;
  SimHost host(config);
  host.Baud(4800);
  const std::vector<uint8_t> heard = host.Collect(2300);
  const std::string text(heard.begin(), heard.end());
  const std::string sentence =
      "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*";
  ASSERT_EQ(text.size(), 2 * (sentence.size() + 4));
  EXPECT_EQ(text.substr(0, sentence.size()), sentence);
  uint8_t sum = 0;
  for (size_t i = 1; i + 1 < sentence.size(); ++i) sum ^= static_cast<uint8_t>(sentence[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  EXPECT_EQ(text.substr(sentence.size(), 4), std::string(hex) + "\r\n");
}

TEST(ReceiverFaults, GarbageOnlyWhilePolledAndNeverAStageByte) {
  Faults faults;
  faults.garbagePerSecond = 50;
  faults.seed = 7;
  SimHost host(WithFaults(faults));
  host.Wake();
  const std::vector<uint8_t> polled = host.Collect(1000);
  EXPECT_GE(polled.size(), 45u);
  EXPECT_EQ(std::count(polled.begin(), polled.end(), SYNC_CODE), 0);
  EXPECT_EQ(std::count(polled.begin(), polled.end(), REC_WAIT_CODE), 0);
  const std::vector<uint8_t> answer = host.Ask(PFLD_VER_CODE, 30);
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(answer.back(), REC_WAIT_CODE);
  EXPECT_TRUE(host.Collect(1000).empty());  // no garbage during the upload

  SimHost again(WithFaults(faults));
  again.Wake();
  EXPECT_EQ(again.Collect(1000), polled);
}

}  // namespace
}  // namespace gpsfw::sim::test
