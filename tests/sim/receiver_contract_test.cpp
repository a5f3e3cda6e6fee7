// The receiver gives every answer the host relies on, in the order of an update.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/link_codes.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kSfldBase = 0x20000000;

std::vector<uint8_t> FrameBytes(const RecordPacket& packet) {
  return std::vector<uint8_t>(packet.frame, packet.frame + packet.length);
}

// Announces a record and sends `frame`; everything the receiver says within `ms`.
std::vector<uint8_t> Exchange(SimHost& host, const std::vector<uint8_t>& frame, uint32_t ms = 100) {
  EXPECT_EQ(host.Ask(SYNC_CODE, 20), std::vector<uint8_t>{REC_WAIT_CODE});
  host.Send(frame);
  return host.Collect(ms);
}

TEST(ReceiverContract, BootLoaderAnswersPollsAt19200AfterTheWakeUp) {
  for (uint32_t powerOn : {4800u, 57600u}) {
    SCOPED_TRACE(powerOn);
    ReceiverConfig config;
    config.powerOnBaud = powerOn;
    SimHost host(config);
    host.Wake();
    EXPECT_EQ(host.receiver.ListenBaud(), 19200u);
    EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
    EXPECT_THAT(host.Ask(REC_POLL_CODE), ElementsAre(REC_POLL_CODE));
    EXPECT_THAT(host.Ask(PFLD_VER_CODE), ElementsAre(REC_WAIT_CODE));
  }
}

TEST(ReceiverContract, AcceptsTheSfldRecordByRecordAndRunsIt) {
  SimHost host;
  host.Wake();
  host.Ask(PFLD_VER_CODE);
  const std::vector<uint8_t> first = Pattern(2048, 1);
  const std::vector<uint8_t> second = Pattern(301, 2);
  EXPECT_EQ(host.Record(DataRecord(kSfldBase, first)), SYNC_CODE);
  EXPECT_EQ(host.Record(DataRecord(kSfldBase + 2048, second)), SYNC_CODE);
  EXPECT_EQ(host.Record(EndRecord()), SYNC_CODE);
  // The SFLD answers the next poll, while still at 19200.
  host.Collect(200);
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
  EXPECT_EQ(host.receiver.ListenBaud(), 115200u);

  const SimResult result = host.Result();
  ASSERT_EQ(result.sfld.size(), 1u);
  EXPECT_EQ(result.sfld[0].address, kSfldBase);
  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  expected.push_back(0x00);  // the pad byte of an odd record travels with it
  EXPECT_EQ(result.sfld[0].bytes, expected);
  EXPECT_EQ(result.sfldStarts, 1);
}

TEST(ReceiverContract, SaysAgainThatItWaitsForTheFrame) {
  SimHost host;
  host.Wake();
  host.Ask(PFLD_VER_CODE);
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(REC_WAIT_CODE));
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(REC_WAIT_CODE));
  host.Send(FrameBytes(DataRecord(kSfldBase, {1, 2, 3})));
  EXPECT_THAT(host.Collect(100), ElementsAre(SYNC_CODE));
}

struct BadFrame {
  const char* name;
  std::vector<uint8_t> frame;
  uint8_t verdict;
};

TEST(ReceiverContract, RejectsBadFramesWithTheirErrorByteAndWaitsAgain) {
  const BadFrame cases[] = {
      {"checksum",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x03, 0x5D},
       BAD_CSUM},
      {"end mark",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x02, 0x00},
       NO_REC_END},
      {"word count", {0x5B, 0x08, 0x00, 0x10, 0x00, 0x40, 0x00, 0x55, 0x55}, BAD_LENGTH},
      {"not completed", {0x5B, 0x00, 0x04, 0x10}, RECORD_TIMEOUT},
  };
  for (const BadFrame& bad : cases) {
    SCOPED_TRACE(bad.name);
    SimHost host;
    host.Wake();
    host.Ask(PFLD_VER_CODE);
    EXPECT_THAT(Exchange(host, bad.frame, 500), ElementsAre(bad.verdict, REC_WAIT_CODE));
    EXPECT_EQ(host.Result().Rejected(Stage::kSfld), 1);
    // The upload goes on from there.
    EXPECT_EQ(host.Record(DataRecord(kSfldBase, {1, 2})), SYNC_CODE);
  }
}

TEST(ReceiverContract, SfldAnswersQueriesAndBootMode) {
  SimHost host;
  host.ToFlashCommands();
  EXPECT_EQ(host.Ask(VER_QUERY_CODE), Bytes("$VER SFLD 1.10\r\n"));
  EXPECT_THAT(host.Ask(TYPE_QUERY_CODE), ElementsAre(TYPE_QUERY_CODE, 5));
  EXPECT_THAT(host.Ask(BOOT_MODE_CODE), ElementsAre(BOOT_MODE_CODE));
}

TEST(ReceiverContract, ErasesSectorBySectorThenTakesTheImage) {
  SimHost host;
  host.ToFlashCommands();
  // 0x10003000..0x10015000 touches the last PFLD sector and two 64 KiB sectors.
  EXPECT_THAT(host.Erase(0x10003000, 0x10015000),
              ElementsAre(SYNC_CODE, SECTOR_ERASED_CODE, SECTOR_ERASED_CODE, SECTOR_ERASED_CODE,
                          SYNC_CODE));
  const std::vector<uint8_t> data = Pattern(1000);
  EXPECT_EQ(host.Record(DataRecord(0x10003000, data)), SYNC_CODE);
  EXPECT_EQ(host.Record(EndRecord()), SYNC_CODE);

  const SimResult result = host.Result();
  EXPECT_TRUE(result.updateCompleted);
  ASSERT_EQ(result.erases.size(), 1u);
  EXPECT_EQ(result.erases[0].start, 0x10003000u);
  EXPECT_EQ(result.erases[0].end, 0x10015000u);
  EXPECT_EQ(result.erases[0].firstSector, 3u);
  EXPECT_EQ(result.erases[0].sectorsErased, 3u);
  EXPECT_TRUE(VerifyFlash(host.receiver.GetFlash(), {Segment{0x10003000, data}}).verified);
  // It restarts into the new firmware.
  host.Collect(100);
  EXPECT_STREQ(host.receiver.StateName(), "application");
}

TEST(ReceiverContract, RefusesAnEraseRangeItCannotErase) {
  const std::pair<uint32_t, uint32_t> ranges[] = {{0x10020000, 0x10010000},
                                                  {0x10100000, 0x10200000}};
  for (const auto& [start, end] : ranges) {
    SimHost host;
    host.ToFlashCommands();
    host.Send(SYNC_CODE);
    host.Send(ERASE_CODE);
    EXPECT_THAT(host.Collect(20), ElementsAre(SYNC_CODE));
    EXPECT_THAT(Exchange(host, FrameBytes(EraseRecord(start, end))),
                ElementsAre(BAD_COMMAND, REC_WAIT_CODE));
  }
}

TEST(ReceiverContract, AfterAFailedStageTheSfldIsPolledAt19200Again) {
  SimHost host;
  host.ToFlashCommands();
  host.Erase(0x10000000, 0x10001000);
  EXPECT_THAT(Exchange(host, {0x5B, 0x00, 0x00, 0x00, 0x01, 0x5D}),
              ElementsAre(BAD_CSUM, REC_WAIT_CODE));
  host.Baud(19200);
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
  host.Baud(115200);
  EXPECT_EQ(host.Ask(VER_QUERY_CODE), Bytes("$VER SFLD 1.10\r\n"));
  EXPECT_EQ(host.Result().flashAttempts, 2);
  // Left alone it falls back again, and answers whichever poll byte the host has.
  host.Collect(2500);
  host.Baud(19200);
  EXPECT_THAT(host.Ask(PFLD_VER_CODE), ElementsAre(SYNC_CODE));
}

TEST(ReceiverContract, AnSfldLeftAloneReturnsTo19200) {
  SimHost host;
  host.ToFlashCommands();
  host.Collect(2500);
  host.Baud(19200);
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
}

}  // namespace
}  // namespace gpsfw::sim::test
