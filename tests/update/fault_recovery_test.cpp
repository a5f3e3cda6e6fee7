// Every fault a receiver or its line can show ends in a complete, verified update, and in
// bounded time: the recovery is timed in virtual time against a fault-free update.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/link_codes.h"
#include "tests/update/update_run.h"

namespace gpsfw::test {
namespace {

using sim::ReceiverConfig;
using sim::RecordPoint;
using sim::ResetTo;
using sim::SilenceWhen;
using sim::Stage;

constexpr int kPfldSize = 4096;
constexpr int kFwSize = 12 * 1024;
const std::string kVerified = "flash verified: 28672 bytes match";

struct FaultCase {
  std::string name;
  std::function<void(ReceiverConfig&)> configure;
  double marginSeconds;  // allowed beyond a fault-free update
};

std::vector<FaultCase> FaultCases() {
  std::vector<FaultCase> cases;
  for (ResetTo to : {ResetTo::kApplication, ResetTo::kBootLoader}) {
    const bool app = to == ResetTo::kApplication;
    for (RecordPoint at :
         {RecordPoint{Stage::kFlash, sim::kEraseRecord}, RecordPoint{Stage::kSfld, 0},
          RecordPoint{Stage::kFlash, 0}, RecordPoint{Stage::kFlash, 12}}) {
      std::string name = std::string("reset ") +
                         (app ? "to the application" : "to the boot loader") + " after " +
                         (at.stage == Stage::kSfld ? "sfld:" : "flash:") + std::to_string(at.index);
      cases.push_back({name,
                       [at, to](ReceiverConfig& c) {
                         c.faults.resets.push_back({at, to});
                       },
                       60});
    }
  }
  cases.push_back({"REC_WAIT flood after the erase record",
                   [](ReceiverConfig& c) {
                     c.faults.floods.push_back({{Stage::kFlash, sim::kEraseRecord}, 500});
                   },
                   60});
  cases.push_back(
      {"SFLD idle after 500 ms", [](ReceiverConfig& c) { c.timing.sfldIdleUs = 500000; }, 60});
  for (uint32_t ms : {5000u, 15000u, 30000u}) {
    cases.push_back(
        {("silence before REC_WAIT_CODE " + std::to_string(ms)),
         [ms](ReceiverConfig& c) {
           c.faults.silences.push_back({{Stage::kFlash, 3}, SilenceWhen::kBeforeRecWait, ms});
         },
         75});
  }
  for (int index : {3, sim::kEraseRecord, sim::kEndRecord}) {
    cases.push_back({("silence before the verdict on " + std::to_string(index)),
                     [index](ReceiverConfig& c) {
                       c.faults.silences.push_back(
                           {{Stage::kFlash, index}, SilenceWhen::kBeforeVerdict, 15000});
                     },
                     75});
  }
  for (double rate : {500.0, 5000.0}) {
    cases.push_back({("garbage " + std::to_string(static_cast<int>(rate)) + " bytes a second"),
                     [rate](ReceiverConfig& c) {
                       c.chatter = true;
                       c.faults.garbagePerSecond = rate;
                     },
                     60});
  }
  using sim::ReceiverPhase;
  const struct {
    const char* name;
    ReceiverPhase phase;
    uint32_t position;
  } positions[] = {
      {"boot loader polls", ReceiverPhase::kBootPoll, 1},
      {"SFLD upload, mid-frame", ReceiverPhase::kSfldUpload, 40},
      {"SFLD polls", ReceiverPhase::kSfldPoll, 1},
      {"version query", ReceiverPhase::kFlashCommands, 1},
      {"erase command", ReceiverPhase::kFlashCommands, 4},
      {"erase record", ReceiverPhase::kEraseRecord, 8},
      {"erase, third sector", ReceiverPhase::kErasing, 2},
      {"programming, first frame", ReceiverPhase::kProgramming, 100},
      {"programming, sixth frame", ReceiverPhase::kProgramming, 5 * 2060 + 900},
  };
  for (const auto& at : positions) {
    for (ResetTo to : {ResetTo::kApplication, ResetTo::kBootLoader}) {
      cases.push_back({std::string("reset in ") + at.name +
                           (to == ResetTo::kApplication ? " (power cycle)" : " (watchdog)"),
                       [at, to](ReceiverConfig& c) {
                         c.faults.resetsAt.push_back({at.phase, at.position, to});
                       },
                       75});
    }
  }
  // A receiver whose application talks NMEA at a speed of its own: what the host reads at
  // its own rate is a UART's garble, protocol bytes among it, before the first wake-up and
  // after every restart into the application.
  const struct {
    const char* name;
    ReceiverPhase phase;
    uint32_t position;
  } talkingRestarts[] = {
      {"SFLD upload", ReceiverPhase::kSfldUpload, 40},
      {"version query", ReceiverPhase::kFlashCommands, 1},
      {"programming", ReceiverPhase::kProgramming, 5 * 2060 + 900},
  };
  for (uint32_t baud : {9600u, 38400u, 115200u}) {
    cases.push_back({"NMEA at " + std::to_string(baud) + " from power-on",
                     [baud](ReceiverConfig& c) { c.nmea.baud = baud; }, 60});
    for (const auto& at : talkingRestarts) {
      cases.push_back(
          {"NMEA at " + std::to_string(baud) + ", restart in " + at.name,
           [baud, at](ReceiverConfig& c) {
             c.nmea.baud = baud;
             c.faults.resetsAt.push_back({at.phase, at.position, ResetTo::kApplication});
           },
           60});
    }
  }
  cases.push_back({"stray SYNC_CODE while the boot loader is polled",
                   [](ReceiverConfig& c) { c.faults.straySyncPolls.push_back(1); }, 60});
  cases.push_back(
      {"powered on 30 s late", [](ReceiverConfig& c) { c.faults.powerOnMs = 30000; }, 75});
  for (uint32_t afterMs : {1000u, 4000u, 7000u}) {
    for (bool power : {false, true}) {
      cases.push_back({"port unplugged for 5 s after " + std::to_string(afterMs) + " ms" +
                           (power ? ", receiver power-cycled" : ""),
                       [afterMs, power](ReceiverConfig& c) {
                         c.faults.unplugs.push_back({afterMs, 5000, power});
                       },
                       75});
    }
  }
  return cases;
}

class FaultRecovery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    images_ = new ImageFiles(MakeImages(*dir_, kPfldSize, kFwSize));
    TempDir run;
    faultFreeSeconds_ = RunUpdate(run, ReceiverConfig(), images_->container).virtualSeconds;
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }
  static TempDir* dir_;
  static ImageFiles* images_;
  static double faultFreeSeconds_;
};

TempDir* FaultRecovery::dir_ = nullptr;
ImageFiles* FaultRecovery::images_ = nullptr;
double FaultRecovery::faultFreeSeconds_ = 0;

TEST_F(FaultRecovery, EveryFaultEndsInAVerifiedUpdateInBoundedTime) {
  for (const FaultCase& c : FaultCases()) {
    ReceiverConfig config;
    c.configure(config);
    TempDir runDir;
    const double limit = faultFreeSeconds_ + c.marginSeconds;
    const UpdateRun run = RunUpdate(runDir, config, images_->container, "", limit + 1);
    EXPECT_FALSE(run.timedOut) << c.name;
    EXPECT_EQ(run.code, 0) << c.name;
    EXPECT_EQ(run.verification, kVerified) << c.name;
    EXPECT_LE(run.virtualSeconds, limit) << c.name;
  }
}

}  // namespace
}  // namespace gpsfw::test
