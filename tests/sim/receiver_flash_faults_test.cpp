// The flash stage's faults as a loader meets them: a flood after the erase record, late
// verdicts and announcements, an SFLD that falls back to 19200 while the host is still
// asking at 115200.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/link_codes.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t kOneSector = PFLD_BASE + 0x1000;

ReceiverConfig WithFaults(const Faults& faults) {
  ReceiverConfig config;
  config.faults = faults;
  return config;
}

// The erase command and record, as the host sends them; what comes back within `ms`.
std::vector<uint8_t> SendErase(SimHost& host, uint32_t ms) {
  host.Send(SYNC_CODE);
  platform::SleepMs(10);
  host.Send(ERASE_CODE);
  EXPECT_THAT(host.Collect(20), ElementsAre(SYNC_CODE));
  EXPECT_THAT(host.Ask(SYNC_CODE, 20), ElementsAre(REC_WAIT_CODE));
  host.Send(EraseRecord(PFLD_BASE, kOneSector));
  return host.Collect(ms);
}

TEST(ReceiverFlashFaults, FloodAfterTheEraseRecordWaitsForItAgain) {
  Faults faults;
  faults.floods.push_back({{Stage::kFlash, kEraseRecord}, 500});
  SimHost host(WithFaults(faults));
  host.ToFlashCommands();
  const std::vector<uint8_t> flood = SendErase(host, 1000);
  EXPECT_EQ(flood, std::vector<uint8_t>(500, REC_WAIT_CODE));
  EXPECT_TRUE(host.Result().erases.empty());
  host.Send(EraseRecord(PFLD_BASE, kOneSector));
  EXPECT_THAT(host.Collect(1000), ElementsAre(SYNC_CODE, SECTOR_ERASED_CODE, SYNC_CODE));
}

TEST(ReceiverFlashFaults, LateVerdictsStillComeAndTheUpdateCompletes) {
  for (int index : {kEraseRecord, 0, kEndRecord}) {
    SCOPED_TRACE(index);
    Faults faults;
    faults.silences.push_back({{Stage::kFlash, index}, SilenceWhen::kBeforeVerdict, 15000});
    SimHost host(WithFaults(faults));
    host.ToFlashCommands();
    const SimTime start = host.Now();
    if (index == kEraseRecord) {
      EXPECT_THAT(SendErase(host, 14000), IsEmpty());
      EXPECT_THAT(host.Collect(1500), ElementsAre(SYNC_CODE, SECTOR_ERASED_CODE, SYNC_CODE));
    } else {
      host.Erase(PFLD_BASE, kOneSector);
    }
    EXPECT_EQ(host.Record(DataRecord(PFLD_BASE, Pattern(64)), 20000), SYNC_CODE);
    EXPECT_EQ(host.Record(EndRecord(), 20000), SYNC_CODE);
    EXPECT_GE(host.Now() - start, MsToNs(15000));
    EXPECT_TRUE(host.Result().updateCompleted);
  }
}

TEST(ReceiverFlashFaults, LateRecWaitAtAnAnnouncement) {
  Faults faults;
  faults.silences.push_back({{Stage::kFlash, 1}, SilenceWhen::kBeforeRecWait, 5000});
  SimHost host(WithFaults(faults));
  host.ToFlashCommands();
  host.Erase(PFLD_BASE, kOneSector);
  EXPECT_EQ(host.Record(DataRecord(PFLD_BASE, Pattern(64))), SYNC_CODE);
  EXPECT_THAT(host.Ask(SYNC_CODE, 4900), IsEmpty());
  EXPECT_THAT(host.Collect(200), ElementsAre(REC_WAIT_CODE));
}

TEST(ReceiverFlashFaults, AnSfldLeftIdleFallsBackTo19200) {
  ReceiverConfig config;
  config.timing.sfldIdleUs = 500000;
  SimHost host(config);
  host.ToFlashCommands();
  host.Collect(600);
  EXPECT_THAT(host.Ask(VER_QUERY_CODE, 600), IsEmpty());
  host.Baud(19200);
  EXPECT_THAT(host.Ask(SYNC_CODE), ElementsAre(SYNC_CODE));
}

TEST(ReceiverFlashFaults, GarbageAndChatterWhileTheApplicationAndBootLoaderArePolled) {
  ReceiverConfig config;
  config.chatter = true;
  config.faults.garbagePerSecond = 500;
  SimHost host(config);
  host.Baud(57600);
  const std::vector<uint8_t> application = host.Collect(2000);
  const std::string sentence = "$GPGGA";
  EXPECT_NE(std::search(application.begin(), application.end(), sentence.begin(), sentence.end()),
            application.end());
  EXPECT_GE(application.size(), 1000u);
  host.Wake();
  const std::vector<uint8_t> polled = host.Collect(1000);
  EXPECT_GE(polled.size(), 490u);
  EXPECT_EQ(std::count(polled.begin(), polled.end(), SYNC_CODE), 0);
}

}  // namespace
}  // namespace gpsfw::sim::test
