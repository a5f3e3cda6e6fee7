#include "sim/flash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/verification.h"

namespace gpsfw::sim::test {
namespace {

constexpr uint32_t kBase = 0x10000000;

struct Overlap {
  uint32_t start;
  uint32_t end;
  uint32_t first;
  uint32_t count;
};

TEST(Flash, DefaultLayoutHoldsThePfldAreaInSmallSectors) {
  const Flash flash{FlashLayout()};
  EXPECT_EQ(flash.Size(), 0x104000u);
  EXPECT_EQ(flash.SectorCount(), 20u);
  EXPECT_EQ(flash.SectorSize(3), 0x1000u);
  EXPECT_EQ(flash.SectorOffset(4), 0x4000u);
  EXPECT_EQ(flash.SectorSize(4), 0x10000u);
}

TEST(Flash, LayoutMustFitTheAddressSpace) {
  struct Case {
    uint32_t base;
    std::vector<SectorRegion> regions;
    bool fits;
  };
  const Case cases[] = {
      {kBase, FlashLayout().regions, true},
      {0xFFFFC000, {{4, 0x1000}}, true},  // ends at the top of the address space
      {0xFFFFD000, {{4, 0x1000}}, false},
      {kBase, {{0xFFFFFFFF, 0xFFFFFFFF}}, false},
      {0, {{0xFFFFFFFF, 1}, {1, 1}}, false},  // more sectors than a 32-bit count
      {kBase, {}, false},
      {kBase, {{4, 0}}, false},
      {kBase, {{0, 0x1000}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.base << " " << c.regions.size());
    std::string why;
    EXPECT_EQ(FlashLayoutFits(FlashLayout{c.base, c.regions}, &why), c.fits) << why;
    EXPECT_EQ(why.empty(), c.fits);
  }
}

TEST(Flash, AFlashAsLargeAsTheAddressSpaceHoldsOnlyWhatIsWritten) {
  const FlashLayout layout{kBase, {{0xEFFF, 0x10000}, {16, 0x1000}}};
  std::string why;
  ASSERT_TRUE(FlashLayoutFits(layout, &why));
  Flash flash{layout};
  EXPECT_EQ(flash.Size(), 0xF0000000u);
  EXPECT_EQ(flash.SectorCount(), 0xEFFFu + 16u);
  EXPECT_EQ(flash.SectorOffset(0xEFFF + 15), 0xEFFFF000u);
  EXPECT_EQ(flash.SectorSize(0xEFFF + 15), 0x1000u);
  uint32_t first = 0;
  uint32_t count = 0;
  flash.SectorsOverlapping(kBase, 0xFFFFFFFF, &first, &count);
  EXPECT_EQ(count, flash.SectorCount());
  flash.BeginErase(kBase, 0xFFFFFFFF);
  for (uint32_t i = 0; i < count; ++i) flash.EraseSector(i);
  EXPECT_EQ(flash.Read(0xFFFFFFFE), 0xFF);
  std::vector<FlashFault> faults;
  const uint8_t data[] = {0x12, 0x34};
  flash.Program(0xFFFFFFF0, data, sizeof data, 0, faults);
  EXPECT_TRUE(faults.empty());
  EXPECT_EQ(flash.Read(0xFFFFFFF1), 0x34);
}

TEST(Flash, ErasesEverySectorThatOverlapsTheRange) {
  const Overlap cases[] = {
      {kBase, kBase + 1, 0, 1},
      {kBase, kBase + 0x4000, 0, 4},
      {kBase + 0x0FFF, kBase + 0x1001, 0, 2},
      {kBase + 0x3FFF, kBase + 0x4001, 3, 2},
      {kBase + 0x4000, kBase + 0x14000, 4, 1},
      {kBase + 0x4000, kBase + 0x14001, 4, 2},
      {kBase, kBase + 0x104000, 0, 20},
      {kBase + 0x20000, kBase + 0x20000, 0, 0},
      {kBase - 0x1000, kBase, 0, 0},
  };
  const Flash flash{FlashLayout()};
  for (const Overlap& overlap : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << overlap.start << ".." << overlap.end);
    uint32_t first = 99;
    uint32_t count = 99;
    flash.SectorsOverlapping(overlap.start, overlap.end, &first, &count);
    EXPECT_EQ(count, overlap.count);
    if (overlap.count > 0) {
      EXPECT_EQ(first, overlap.first);
    }
  }
}

TEST(Flash, HoldsOldFirmwareUntilErased) {
  Flash flash{FlashLayout()};
  int erasedLooking = 0;
  for (uint32_t i = 0; i < 0x1000; ++i) erasedLooking += flash.Read(kBase + i) == 0xFF;
  EXPECT_LT(erasedLooking, 0x100);
  flash.BeginErase(kBase, kBase + 0x1000);
  flash.EraseSector(0);
  EXPECT_EQ(flash.Read(kBase), 0xFF);
  EXPECT_EQ(flash.Read(kBase + 0xFFF), 0xFF);
  EXPECT_EQ(flash.Read(kBase + 0x1000), Flash::OldFirmwareByte(0x1000));
}

struct Programming {
  const char* name;
  uint32_t address;
  uint32_t length;
  FlashFaultKind kind;
};

TEST(Flash, FlagsProgrammingThatCannotTake) {
  // The erase record covers 10 KiB, sectors 0 to 2; only sectors 0 and 1 get erased (an
  // erase that failed half way), sector 2 keeps the old firmware.
  const Programming cases[] = {
      {"over bytes the erase left alone", kBase + 0x2000, 0x20, FlashFaultKind::kNotErased},
      {"beyond the erase range", kBase + 0x2800, 0x10, FlashFaultKind::kOutsideEraseRange},
      {"beyond the flash", kBase + 0x104000, 0x10, FlashFaultKind::kOutsideFlash},
      {"below the flash", kBase - 0x10, 0x10, FlashFaultKind::kOutsideFlash},
  };
  for (const Programming& c : cases) {
    SCOPED_TRACE(c.name);
    Flash flash{FlashLayout()};
    flash.BeginErase(kBase, kBase + 0x2800);
    flash.EraseSector(0);
    flash.EraseSector(1);
    std::vector<FlashFault> faults;
    const std::vector<uint8_t> data(c.length, 0x0F);
    flash.Program(c.address, data.data(), data.size(), 0, faults);
    ASSERT_FALSE(faults.empty());
    EXPECT_EQ(faults[0].kind, c.kind);
  }
}

TEST(Flash, ProgrammingOnlyClearsBitsAndOnlyOnce) {
  Flash flash{FlashLayout()};
  flash.BeginErase(kBase, kBase + 0x2000);
  flash.EraseSector(0);
  std::vector<FlashFault> faults;
  const uint8_t first[] = {0x0F, 0xF0};
  flash.Program(kBase, first, 2, 0, faults);
  EXPECT_TRUE(faults.empty());
  const uint8_t second[] = {0xFF, 0x3C};
  flash.Program(kBase, second, 2, 0, faults);
  ASSERT_EQ(faults.size(), 1u);  // both bytes in one entry
  EXPECT_EQ(faults[0].kind, FlashFaultKind::kNotErased);
  EXPECT_EQ(faults[0].length, 2u);
  EXPECT_EQ(flash.Read(kBase), 0x0F);
  EXPECT_EQ(flash.Read(kBase + 1), 0x30);
  // Sector 1 lies in the range but was not erased: its old bits stay.
  const uint8_t third = 0x00;
  flash.Program(kBase + 0x1000, &third, 1, 0, faults);
  EXPECT_EQ(faults.back().kind, FlashFaultKind::kNotErased);
}

TEST(Flash, ThePadByteOfAnOddEndIsPartOfTheRange) {
  Flash flash{FlashLayout()};
  flash.BeginErase(kBase, kBase + 0x101);
  flash.EraseSector(0);
  std::vector<FlashFault> faults;
  const uint8_t lastAndPad[] = {0x42, 0x00};
  flash.Program(kBase + 0x100, lastAndPad, 2, 0, faults);
  EXPECT_TRUE(faults.empty());
  flash.Program(kBase + 0x102, lastAndPad, 1, 0, faults);
  EXPECT_EQ(faults.size(), 1u);
}

TEST(Flash, VerificationNamesTheFirstDifference) {
  Flash flash{FlashLayout()};
  flash.BeginErase(kBase, kBase + 0x1000);
  flash.EraseSector(0);
  std::vector<FlashFault> faults;
  const std::vector<uint8_t> data = {1, 2, 3, 4};
  flash.Program(kBase + 0x10, data.data(), data.size(), 0, faults);

  EXPECT_EQ(VerifyFlash(flash, {Segment{kBase + 0x10, data}}).text,
            "flash verified: 4 bytes match");
  EXPECT_EQ(VerifyFlash(flash, {Segment{kBase + 0x10, {1, 2, 9, 4}}}).text,
            "flash differs at 0x10000012: expected 0x09, found 0x03");
  EXPECT_EQ(VerifyFlash(flash, {Segment{kBase + 0x104000, {0xFF}}}).text,
            "flash differs at 0x10104000: outside the flash");
}

}  // namespace
}  // namespace gpsfw::sim::test
