#include "protocol/record_packet.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "protocol/link_codes.h"

namespace gpsfw {
namespace {

std::vector<uint16_t> Bytes(size_t count, uint16_t first = 0) {
  std::vector<uint16_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint16_t>((first + i) & 0xFF);
  return v;
}

std::vector<uint8_t> Frame(const RecordPacket& p) {
  return std::vector<uint8_t>(p.frame, p.frame + p.length);
}

std::unique_ptr<RecordPacket> FreshPacket() {
  auto p = std::make_unique<RecordPacket>();
  *p = RecordPacket{};
  Reset(*p);
  return p;
}

TEST(RecordFrame, WorkedExamplesByteForByte) {
  auto p = FreshPacket();
  const uint16_t data[] = {0x01, 0x02, 0x03};
  EXPECT_FALSE(Append(*p, 0x10004000, 3, data));
  Seal(*p);
  EXPECT_EQ(Frame(*p), (std::vector<uint8_t>{0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02,
                                             0x03, 0x00, 0x52, 0x02, 0x5D}));

  MakeEraseRecord(*p, 0x10000000, 0x10020000);
  EXPECT_EQ(p->address, 0x10000000u);
  EXPECT_EQ(Frame(*p), (std::vector<uint8_t>{0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x10, 0x02,
                                             0x00, 0x00, 0x00, 0x02, 0x5D}));

  MakeEndRecord(*p);
  EXPECT_EQ(p->address, 0u);
  EXPECT_EQ(Frame(*p), (std::vector<uint8_t>{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
}

TEST(RecordFrame, FullRecordHas2058BytesAndNoCarry) {
  auto p = FreshPacket();
  const auto data = Bytes(2048);
  EXPECT_TRUE(Append(*p, 0x10000000, 2048, data.data()));
  EXPECT_EQ(p->dataCount, 2048);
  EXPECT_FALSE(p->carry.present);
  Seal(*p);
  ASSERT_EQ(p->length, 2058);
  EXPECT_EQ(p->frame[1], 0x04);
  EXPECT_EQ(p->frame[2], 0x02);
  EXPECT_EQ(p->frame[2057], 0x5D);
}

TEST(RecordFrame, ChecksumIsXorOfPayloadWordsIncludingPad) {
  for (uint16_t count : {1, 2, 5, 31, 32, 2047}) {
    auto p = FreshPacket();
    const auto data = Bytes(count, 0x37);
    Append(*p, 0x12345678, count, data.data());
    Seal(*p);
    const size_t payload = 4 + count + (count % 2);
    ASSERT_EQ(p->length, payload + 6) << count;
    EXPECT_EQ((p->frame[1] << 8 | p->frame[2]) * 2u, payload) << count;
    uint16_t sum = 0;
    for (size_t i = 0; i < payload; i += 2) sum ^= p->frame[3 + i] << 8 | p->frame[4 + i];
    EXPECT_EQ(p->frame[3 + payload] << 8 | p->frame[4 + payload], sum) << count;
    if (count % 2) {
      EXPECT_EQ(p->frame[3 + payload - 1], 0) << "pad byte";
    }
  }
}

TEST(RecordFrame, OnlyLowByteOfEachElementCounts) {
  auto a = FreshPacket();
  auto b = FreshPacket();
  const uint16_t high[] = {0x0141, 0xFF42};
  const uint16_t low[] = {0x0041, 0x0042};
  Append(*a, 0x1000, 2, high);
  Append(*b, 0x1000, 2, low);
  Seal(*a);
  Seal(*b);
  EXPECT_EQ(Frame(*a), Frame(*b));
}

struct AppendStep {
  uint32_t address;
  uint16_t count;
  bool closed;
};

struct AppendCase {
  const char* name;
  std::vector<AppendStep> steps;
  uint16_t dataCount;
  bool carryPresent;
  uint32_t carryAddress;
  uint16_t carryLength;
};

TEST(RecordFrame, AppendContinuationAndCarryOver) {
  const uint32_t a = 0x20000000;
  const std::vector<AppendCase> cases = {
      {"adjacent blocks then a gap",
       {{0x1000, 100, false}, {0x1064, 100, false}, {0x1100, 100, true}},
       200,
       true,
       0x1100,
       100},
      {"block that fills the packet",
       {{a, 2000, false}, {a + 2000, 100, true}},
       2048,
       true,
       a + 2048,
       52},
      {"exactly full, nothing left", {{a, 2000, false}, {a + 2000, 48, true}}, 2048, false, 0, 0},
      {"empty first block", {{a, 0, false}}, 0, false, 0, 0},
      {"empty block at another address", {{a, 10, false}, {a + 99, 0, true}}, 10, false, 0, 0},
      {"empty block on a full packet", {{a, 2048, true}, {a + 2048, 0, true}}, 2048, false, 0, 0},
      {"further block on a full packet",
       {{a, 2048, true}, {a + 2048, 16, true}},
       2048,
       true,
       a + 2048,
       16},
  };
  for (const AppendCase& c : cases) {
    auto p = FreshPacket();
    for (const AppendStep& s : c.steps) {
      const auto data = Bytes(s.count, static_cast<uint16_t>(s.address));
      EXPECT_EQ(Append(*p, s.address, s.count, data.data()), s.closed) << c.name;
    }
    EXPECT_EQ(p->dataCount, c.dataCount) << c.name;
    EXPECT_EQ(p->carry.present != 0, c.carryPresent) << c.name;
    if (c.carryPresent) {
      EXPECT_EQ(p->carry.address, c.carryAddress) << c.name;
      EXPECT_EQ(p->carry.length, c.carryLength) << c.name;
    }
  }
}

TEST(RecordFrame, CarriedBytesAreTheOnesNotTaken) {
  auto p = FreshPacket();
  const auto first = Bytes(2000);
  const auto second = Bytes(100, 0x80);
  Append(*p, 0, 2000, first.data());
  Append(*p, 2000, 100, second.data());
  ASSERT_EQ(p->carry.length, 52);
  for (int i = 0; i < 52; ++i) EXPECT_EQ(p->carry.data[i], second[48 + i]);
  EXPECT_EQ(p->frame[3 + 4 + 2047], second[47]);
}

TEST(RecordFrame, EmptyFirstAppendSealsToAddressOnlyFrame) {
  auto p = FreshPacket();
  Append(*p, 0x10000000, 0, nullptr);
  EXPECT_EQ(p->length, 4);
  Seal(*p);
  EXPECT_EQ(Frame(*p),
            (std::vector<uint8_t>{0x5B, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x5D}));
}

TEST(RecordFrame, SealOfEmptyPayloadIsEndRecordAndSpecialRecordsKeepCarry) {
  auto p = FreshPacket();
  Seal(*p);
  EXPECT_EQ(Frame(*p), (std::vector<uint8_t>{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));

  auto q = FreshPacket();
  const auto data = Bytes(10);
  Append(*q, 0x100, 10, data.data());
  Append(*q, 0x500, 10, data.data());
  ASSERT_TRUE(q->carry.present);
  MakeEndRecord(*q);
  MakeEraseRecord(*q, 1, 2);
  Reset(*q);
  EXPECT_TRUE(q->carry.present);
  EXPECT_EQ(q->carry.address, 0x500u);
}

TEST(RecordFrame, ParseReadsBackWhatSealWrote) {
  auto p = FreshPacket();
  const uint16_t data[] = {0x01, 0x02, 0x03};
  Append(*p, 0x10004000, 3, data);
  Seal(*p);
  std::vector<uint8_t> bytes = Frame(*p);
  bytes.push_back(SYNC_CODE);  // whatever follows the frame is not part of it
  RecordFrame frame;
  ASSERT_TRUE(ParseFrame(bytes.data(), bytes.size(), frame));
  EXPECT_EQ(frame.length, p->length);
  EXPECT_EQ(frame.words, 4u);
  EXPECT_EQ(frame.address, 0x10004000u);
  EXPECT_EQ(frame.payload[4], 0x01);
  EXPECT_TRUE(frame.ChecksumOk());

  bytes[7] ^= 0xFF;  // a data byte changed on the way: the frame still parses, its sum is wrong
  ASSERT_TRUE(ParseFrame(bytes.data(), bytes.size(), frame));
  EXPECT_FALSE(frame.ChecksumOk());
  EXPECT_EQ(frame.storedChecksum, 0x5202u);
}

TEST(RecordFrame, ParseRefusesWhatIsNotAWholeFrame) {
  auto p = FreshPacket();
  MakeEndRecord(*p);
  const std::vector<uint8_t> end = Frame(*p);
  RecordFrame frame;
  ASSERT_TRUE(ParseFrame(end.data(), end.size(), frame));
  EXPECT_EQ(frame.words, 0u);
  EXPECT_EQ(frame.address, 0u);
  EXPECT_FALSE(ParseFrame(end.data(), end.size() - 1, frame)) << "cut short";
  std::vector<uint8_t> noEnd(end.begin(), end.end() - 1);
  noEnd.push_back(0x00);
  EXPECT_FALSE(ParseFrame(noEnd.data(), noEnd.size(), frame)) << "no end mark";
  std::vector<uint8_t> noStart = end;
  noStart.front() = SYNC_CODE;
  EXPECT_FALSE(ParseFrame(noStart.data(), noStart.size(), frame)) << "no start mark";
  const std::vector<uint8_t> longCount = {FRAME_START, 0x10, 0x00, 0, 0, FRAME_END};
  EXPECT_FALSE(ParseFrame(longCount.data(), longCount.size(), frame)) << "count past the bytes";
}

}  // namespace
}  // namespace gpsfw
