// Restarts anywhere in an update, a stray SYNC_CODE while polled, a late power-on, and an
// update that has completed although the receiver restarts right after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "protocol/link_codes.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t kSfldBase = 0x20000000;
constexpr uint32_t kFourSectors = 0x10004000;

ReceiverConfig WithFaults(const Faults& faults) {
  ReceiverConfig config;
  config.faults = faults;
  return config;
}

std::vector<uint8_t> Verdict(int verdict) {
  return verdict < 0 ? std::vector<uint8_t>{} : std::vector<uint8_t>{uint8_t(verdict)};
}

int Restarts(const SimResult& result) {
  int count = 0;
  for (const SimEvent& event : result.events) count += event.text.rfind("reset:", 0) == 0;
  return count;
}

struct RestartCase {
  const char* name;
  ResetAtFault fault;
  // Brings the receiver into the phase and returns what it answered to the last step.
  std::function<std::vector<uint8_t>(SimHost&)> script;
  std::vector<uint8_t> answered;
};

TEST(ReceiverRestart, AtAnyBytePositionOfAnyPhase) {
  using P = ReceiverPhase;
  const auto app = ResetTo::kApplication;
  const auto boot = ResetTo::kBootLoader;
  const RestartCase cases[] = {
      // The wake-up's four SYNC_CODE polls count; the sixth poll goes unanswered.
      {"boot loader polls",
       {P::kBootPoll, 6, app},
       [](SimHost& h) {
         h.Wake();
         EXPECT_EQ(h.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
         return h.Ask(SYNC_CODE);
       },
       {}},
      {"inside the first SFLD frame",
       {P::kSfldUpload, 10, app},
       [](SimHost& h) {
         h.Wake();
         h.Ask(PFLD_VER_CODE);
         return Verdict(h.Record(DataRecord(kSfldBase, Pattern(64))));
       },
       {}},
      {"the SFLD's first poll",
       {P::kSfldPoll, 1, app},
       [](SimHost& h) {
         h.UploadSfld();
         return h.Ask(SYNC_CODE);
       },
       {}},
      {"the version query",
       {P::kFlashCommands, 1, app},
       [](SimHost& h) {
         h.ToFlashCommands();
         return h.Ask(VER_QUERY_CODE, 500);
       },
       {}},
      {"the type query behind the version",
       {P::kFlashCommands, 2, boot},
       [](SimHost& h) {
         h.ToFlashCommands();
         EXPECT_EQ(h.Ask(VER_QUERY_CODE, 500), Bytes("$VER SFLD 1.10\r\n"));
         return h.Ask(TYPE_QUERY_CODE);
       },
       {}},
      {"inside the erase record",
       {P::kEraseRecord, 5, app},
       [](SimHost& h) {
         h.ToFlashCommands();
         return h.Erase(PFLD_BASE, kFourSectors);
       },
       {0xFF}},  // no verdict
      {"after two sector reports",
       {P::kErasing, 2, boot},
       [](SimHost& h) {
         h.ToFlashCommands();
         return h.Erase(PFLD_BASE, kFourSectors);
       },
       {SYNC_CODE, SECTOR_ERASED_CODE, SECTOR_ERASED_CODE}},
      {"as programming begins",
       {P::kProgramming, 0, app},
       [](SimHost& h) {
         h.ToFlashCommands();
         h.Erase(PFLD_BASE, kFourSectors);
         return Verdict(h.Record(DataRecord(PFLD_BASE, Pattern(64))));
       },
       {}},
      {"inside the second flash record",
       {P::kProgramming, 100, boot},
       [](SimHost& h) {
         h.ToFlashCommands();
         h.Erase(PFLD_BASE, kFourSectors);
         EXPECT_EQ(h.Record(DataRecord(PFLD_BASE, Pattern(64))), SYNC_CODE);
         return Verdict(h.Record(DataRecord(PFLD_BASE + 64, Pattern(64))));
       },
       {}},
  };
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults;
    faults.resetsAt.push_back(c.fault);
    SimHost host(WithFaults(faults));
    EXPECT_EQ(c.script(host), c.answered);
    host.Collect(50);
    if (c.fault.to == ResetTo::kApplication) {
      EXPECT_STREQ(host.receiver.StateName(), "application");
    } else {
      host.Baud(19200);
      EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
    }
    EXPECT_EQ(Restarts(host.Result()), 1);
  }
}

TEST(ReceiverRestart, DuringTheEraseLeavesTheSectorsNotReportedAsTheyWere) {
  Faults faults;
  faults.resetsAt.push_back({ReceiverPhase::kErasing, 1, ResetTo::kApplication});
  SimHost host(WithFaults(faults));
  host.ToFlashCommands();
  host.Erase(PFLD_BASE, kFourSectors);
  const SimResult result = host.Result();
  ASSERT_EQ(result.erases.size(), 1u);
  EXPECT_EQ(result.erases[0].sectorsErased, 1u);
  EXPECT_TRUE(result.erases[0].failed);
  EXPECT_EQ(host.receiver.GetFlash().Read(PFLD_BASE + 0xFFF), 0xFF);
  EXPECT_EQ(host.receiver.GetFlash().Read(PFLD_BASE + 0x1000), Flash::OldFirmwareByte(0x1000));
}

TEST(ReceiverRestart, StraySyncAnswersTheChosenPollOnce) {
  for (uint8_t poll : {SYNC_CODE, REC_POLL_CODE, PFLD_VER_CODE}) {
    SCOPED_TRACE(poll);
    Faults faults;
    faults.straySyncPolls = {5, 7};  // the wake-up's polls are 1 to 4
    SimHost host(WithFaults(faults));
    host.Wake();
    EXPECT_THAT(host.Ask(poll), ElementsAre(SYNC_CODE));
    EXPECT_NE(host.Ask(poll), std::vector<uint8_t>{SYNC_CODE});
    if (poll == PFLD_VER_CODE) continue;  // the upload has begun
    EXPECT_THAT(host.Ask(poll), ElementsAre(SYNC_CODE));
    EXPECT_NE(host.Ask(poll), std::vector<uint8_t>{SYNC_CODE});
    EXPECT_EQ(host.Result().bootLoaderPolls, 8u);
  }
}

TEST(ReceiverRestart, PoweredOnLateHearsNothingBefore) {
  Faults faults;
  faults.powerOnMs = 3000;
  SimHost host(WithFaults(faults));
  host.Wake();
  EXPECT_THAT(host.Ask(SYNC_CODE), IsEmpty());
  EXPECT_STREQ(host.receiver.StateName(), "off");
  host.Collect(3000);
  host.Wake();
  EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
  EXPECT_EQ(host.Result().phases.front().name, "off");
}

TEST(ReceiverRestart, AnUpdateWhoseEndRecordWasTakenHasCompletedDespiteARestart) {
  for (ResetTo to : {ResetTo::kApplication, ResetTo::kBootLoader}) {
    Faults faults;
    faults.resets.push_back({{Stage::kFlash, kEndRecord}, to});
    SimHost host(WithFaults(faults));
    host.ToFlashCommands();
    host.Erase(PFLD_BASE, PFLD_BASE + 0x1000);
    EXPECT_EQ(host.Record(DataRecord(PFLD_BASE, Pattern(64))), SYNC_CODE);
    EXPECT_EQ(host.Record(EndRecord()), SYNC_CODE);
    host.Collect(50);
    const SimResult result = host.Result();
    EXPECT_TRUE(result.updateCompleted);
    EXPECT_EQ(result.completedUpdates, 1);
    EXPECT_EQ(VerifyFlash(host.receiver.GetFlash(), result.programmed).text,
              "flash verified: 64 bytes match");
    EXPECT_STREQ(host.receiver.StateName(),
                 to == ResetTo::kApplication ? "application" : "boot loader");
  }
}

}  // namespace
}  // namespace gpsfw::sim::test
