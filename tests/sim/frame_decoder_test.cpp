#include "sim/frame_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAreArray;

// Feeds the bytes one by one; the status after the last byte fed and how many were fed.
std::pair<FrameStatus, size_t> Decode(FrameDecoder& decoder, const std::vector<uint8_t>& bytes) {
  decoder.Reset();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const FrameStatus status = decoder.Feed(bytes[i]);
    if (status != FrameStatus::kIncomplete) return {status, i + 1};
  }
  return {FrameStatus::kIncomplete, bytes.size()};
}

struct WorkedFrame {
  const char* name;
  std::vector<uint8_t> frame;
  uint16_t words;
  std::vector<uint8_t> payload;
};

TEST(FrameDecoder, TakesTheWorkedFramesApart) {
  const WorkedFrame frames[] = {
      {"data record",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x02, 0x5D},
       4,
       {0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00}},
      {"erase record",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x02, 0x5D},
       4,
       {0x10, 0x00, 0x00, 0x00, 0x10, 0x02, 0x00, 0x00}},
      {"end record", {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}, 0, {}},
  };
  FrameDecoder decoder;
  for (const WorkedFrame& worked : frames) {
    SCOPED_TRACE(worked.name);
    const auto [status, fed] = Decode(decoder, worked.frame);
    EXPECT_EQ(status, FrameStatus::kComplete);
    EXPECT_EQ(fed, worked.frame.size());
    EXPECT_EQ(decoder.Words(), worked.words);
    EXPECT_THAT(decoder.Payload(), ElementsAreArray(worked.payload));
  }
}

TEST(FrameDecoder, TakesAFullRecordOfTheLoader) {
  const std::vector<uint8_t> data = Pattern(2048);
  const RecordPacket packet = DataRecord(0x10004000, data);
  FrameDecoder decoder;
  const auto [status, fed] =
      Decode(decoder, std::vector<uint8_t>(packet.frame, packet.frame + packet.length));
  EXPECT_EQ(status, FrameStatus::kComplete);
  EXPECT_EQ(fed, 2058u);
  EXPECT_EQ(decoder.Words(), 1026);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), decoder.Payload().begin() + 4));
}

struct Malformed {
  const char* name;
  std::vector<uint8_t> bytes;
  FrameStatus status;
  size_t decidedAfter;  // bytes fed when the decoder gave its verdict
};

TEST(FrameDecoder, RefusesMalformedFrames) {
  const Malformed cases[] = {
      {"checksum wrong",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x03, 0x5D},
       FrameStatus::kBadChecksum,
       14},
      {"end mark missing",
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x02, 0x5C},
       FrameStatus::kNoEnd,
       14},
      {"end mark and checksum wrong", {0x5B, 0x00, 0x00, 0x12, 0x34, 0x00}, FrameStatus::kNoEnd, 6},
      {"end record with a checksum",
       {0x5B, 0x00, 0x00, 0x00, 0x01, 0x5D},
       FrameStatus::kBadChecksum,
       6},
      {"more words than a record holds", {0x5B, 0x04, 0x03, 0x00}, FrameStatus::kBadLength, 3},
      {"one word cannot hold an address", {0x5B, 0x00, 0x01, 0x00}, FrameStatus::kBadLength, 3},
      {"no start mark", {0x55, 0x5B}, FrameStatus::kNotAFrame, 1},
      {"cut short", {0x5B, 0x00, 0x04, 0x10}, FrameStatus::kIncomplete, 4},
  };
  FrameDecoder decoder;
  for (const Malformed& malformed : cases) {
    SCOPED_TRACE(malformed.name);
    const auto [status, fed] = Decode(decoder, malformed.bytes);
    EXPECT_EQ(status, malformed.status);
    EXPECT_EQ(fed, malformed.decidedAfter);
  }
}

}  // namespace
}  // namespace gpsfw::sim::test
