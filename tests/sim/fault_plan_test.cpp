// The fault plan gives each fault once at its own point, or at every attempt when it strikes
// always, and keeps the faults of other kinds, roles and positions for later.
#include "sim/fault_plan.h"

#include <gtest/gtest.h>

namespace gpsfw::sim::test {
namespace {

TEST(FaultPlan, GivesAFaultOnlyAtItsKindPhaseAndPosition) {
  Faults faults;
  faults.rejects.push_back({{Stage::kFlash, 3}, 0x81, false});
  FaultPlan plan(faults);
  struct Case {
    const char* what;
    FaultKind kind;
    ReceiverPhase phase;
    int64_t position;
  };
  const Case misses[] = {
      {"another kind", FaultKind::kFlood, ReceiverPhase::kProgramming, 3},
      {"another role", FaultKind::kReject, ReceiverPhase::kSfldUpload, 3},
      {"the erase record", FaultKind::kReject, ReceiverPhase::kEraseRecord, 3},
      {"another record", FaultKind::kReject, ReceiverPhase::kProgramming, 2},
      {"the end record", FaultKind::kReject, ReceiverPhase::kProgramming, kEndRecord},
  };
  for (const Case& c : misses) {
    EXPECT_FALSE(plan.Take(c.kind, c.phase, c.position)) << c.what;
  }
  PlannedFault fault;
  ASSERT_TRUE(plan.Take(FaultKind::kReject, ReceiverPhase::kProgramming, 3, &fault));
  EXPECT_EQ(fault.byte, 0x81);
  EXPECT_FALSE(plan.Take(FaultKind::kReject, ReceiverPhase::kProgramming, 3));
  EXPECT_TRUE(plan.Empty());
}

TEST(FaultPlan, AFaultThatStrikesAlwaysStays) {
  Faults faults;
  faults.rejects.push_back({{Stage::kSfld, 0}, 0x82, true});
  FaultPlan plan(faults);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_TRUE(plan.Take(FaultKind::kReject, ReceiverPhase::kSfldUpload, 0));
  }
}

// Erase faults serve one erase each, in the order given; missing answers are counted.
TEST(FaultPlan, FaultsWithoutPositionStrikeAtTheNextPointInOrder) {
  Faults faults;
  faults.eraseFaults.push_back({2, 0x84});
  faults.eraseFaults.push_back({5, 0x81});
  faults.missingBootModeEchoes = 2;
  FaultPlan plan(faults);
  PlannedFault fault;
  ASSERT_TRUE(plan.Take(FaultKind::kEraseFault, ReceiverPhase::kErasing, 0, &fault));
  EXPECT_EQ(fault.amount, 2);
  ASSERT_TRUE(plan.Take(FaultKind::kEraseFault, ReceiverPhase::kErasing, 0, &fault));
  EXPECT_EQ(fault.byte, 0x81);
  EXPECT_FALSE(plan.Take(FaultKind::kEraseFault, ReceiverPhase::kErasing, 0));
  EXPECT_TRUE(plan.Take(FaultKind::kNoBootModeEcho, ReceiverPhase::kFlashCommands, 0));
  EXPECT_TRUE(plan.Take(FaultKind::kNoBootModeEcho, ReceiverPhase::kFlashCommands, 0));
  EXPECT_FALSE(plan.Take(FaultKind::kNoBootModeEcho, ReceiverPhase::kFlashCommands, 0));
}

TEST(FaultPlan, RecordPointsNameTheRoleThatTakesTheRecord) {
  EXPECT_EQ(RecordPhase({Stage::kSfld, 4}), ReceiverPhase::kSfldUpload);
  EXPECT_EQ(RecordPhase({Stage::kFlash, kEraseRecord}), ReceiverPhase::kEraseRecord);
  EXPECT_EQ(RecordPhase({Stage::kFlash, kEndRecord}), ReceiverPhase::kProgramming);
  EXPECT_EQ(RecordPhase({Stage::kFlash, 0}), ReceiverPhase::kProgramming);
}

}  // namespace
}  // namespace gpsfw::sim::test
