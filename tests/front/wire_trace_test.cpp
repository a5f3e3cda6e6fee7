// The wire trace: its bursts put back together give every byte on the wire in both
// directions, frames are named with their address and checksum.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "front/wire_names.h"
#include "protocol/link_codes.h"
#include "tests/front/front_run.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

struct TraceLine {
  std::string direction;
  uint32_t baud = 0;
  size_t count = 0;
  std::vector<uint8_t> bytes;  // with those of its continuation lines
  std::string names;
};

bool IsHexByte(const std::string& token) {
  return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
         std::isxdigit(static_cast<unsigned char>(token[1]));
}

void ReadHex(std::istringstream& in, std::vector<uint8_t>& bytes) {
  std::string token;
  while (in >> token && IsHexByte(token)) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  }
}

std::vector<TraceLine> ParseTrace(const std::string& trace) {
  std::vector<TraceLine> lines;
  for (const std::string& text : SplitLines(trace)) {
    std::istringstream in(text);
    std::string time;
    in >> time;
    if (time == "+" && !lines.empty()) {
      size_t offset = 0;
      in >> offset;
      EXPECT_EQ(offset, lines.back().bytes.size()) << text;
      ReadHex(in, lines.back().bytes);
      continue;
    }
    TraceLine line;
    in >> line.direction;
    if (line.direction != "->" && line.direction != "<-") continue;
    in >> line.baud >> line.count;
    ReadHex(in, line.bytes);
    const size_t names = text.rfind("|  ");
    if (names != std::string::npos) line.names = text.substr(names + 3);
    lines.push_back(line);
  }
  return lines;
}

// The bytes as the other side took them: the host's as sent, the receiver's as the host's
// port read them.
std::vector<uint8_t> WireBytes(const std::vector<sim::WireEvent>& wire, sim::Direction direction) {
  std::vector<uint8_t> bytes;
  for (const sim::WireEvent& e : wire) {
    if (e.direction != direction) continue;
    if (direction == sim::Direction::kHostToTarget) {
      bytes.push_back(e.byte);
    } else if (!e.dropped && e.receiverBaud != 0) {
      bytes.push_back(e.received);
    }
  }
  return bytes;
}

std::vector<uint8_t> TraceBytes(const std::vector<TraceLine>& lines, const std::string& direction) {
  std::vector<uint8_t> bytes;
  for (const TraceLine& line : lines) {
    if (line.direction != direction) continue;
    EXPECT_EQ(line.bytes.size(), line.count) << line.names;
    bytes.insert(bytes.end(), line.bytes.begin(), line.bytes.end());
  }
  return bytes;
}

size_t CountNamed(const std::vector<TraceLine>& lines, const std::string& name) {
  size_t count = 0;
  for (const TraceLine& line : lines) count += line.names.find(name) != std::string::npos;
  return count;
}

TEST(WireTraceTest, BurstsPutBackTogetherAreEveryByteOnTheWire) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 4096, 12 * 1024);
  FrontViews views;
  views.trace = true;
  sim::ReceiverConfig config;
  config.faults.rejects.push_back({{sim::Stage::kFlash, 2}, BAD_CSUM});
  const FrontRun run = RunWithFrontEnd(dir, config, images.container, views);
  ASSERT_EQ(run.code, 0);
  const std::vector<TraceLine> lines = ParseTrace(run.trace);
  // Every frame the receiver decoded is in the host's bytes, rebuilt from the trace alone.
  EXPECT_EQ(TraceBytes(lines, "->"), WireBytes(run.wire, sim::Direction::kHostToTarget));
  EXPECT_EQ(TraceBytes(lines, "<-"), WireBytes(run.wire, sim::Direction::kTargetToHost));

  // Every frame the receiver judged is named once: the SFLD's one data record and end record,
  // then two flash stages with their erase records.
  size_t dataRecords = 0;
  for (const sim::RecordEntry& r : run.result.records) dataRecords += r.index >= 0;
  EXPECT_EQ(CountNamed(lines, "record 0x"), dataRecords + 2) << "with the two erase records";
  EXPECT_EQ(CountNamed(lines, "erase record 0x10000000 to 0x10007000, checksum 0x7000"), 2u);
  EXPECT_EQ(CountNamed(lines, "end record, checksum 0x0000"), 2u);
  EXPECT_EQ(CountNamed(lines, "record 0x10001000, 2048 bytes, checksum 0xA0E5"), 2u);
  EXPECT_EQ(CountNamed(lines, "WAKE_SEQUENCE"), 2u);
  EXPECT_EQ(CountNamed(lines, "SECTOR_ERASED_CODE"), 10u);
  EXPECT_EQ(CountNamed(lines, "BAD_CSUM"), 1u);
  EXPECT_EQ(CountNamed(lines, "type reply, TypeID 5"), 2u);
  EXPECT_NE(run.trace.find("# retry: flash stage failed, repeating the flash stage\n"),
            std::string::npos);
}

TEST(WireTraceTest, TraceOfTheDemoImageHoldsEveryByteInBoundedSpace) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 4096, 32768);
  FrontViews views;
  views.trace = true;
  const FrontRun run = RunWithFrontEnd(dir, sim::ReceiverConfig(), images.container, views);
  ASSERT_EQ(run.code, 0);
  const std::vector<TraceLine> lines = ParseTrace(run.trace);
  const size_t onWire = TraceBytes(lines, "->").size() + TraceBytes(lines, "<-").size();
  EXPECT_EQ(onWire, WireBytes(run.wire, sim::Direction::kHostToTarget).size() +
                        WireBytes(run.wire, sim::Direction::kTargetToHost).size());
  // Hex, text and the column of a continuation line: under six characters a byte.
  EXPECT_LT(run.trace.size(), 6 * onWire);
}

WireBurst Burst(WireDirection direction, const std::vector<uint8_t>& bytes) {
  WireBurst burst;
  burst.direction = direction;
  burst.count = bytes.size();
  std::copy(bytes.begin(), bytes.end(), burst.bytes);
  return burst;
}

TEST(WireNamesTest, WhatTheNamesOfABurstSay) {
  constexpr auto kOut = WireDirection::kToTarget;
  constexpr auto kIn = WireDirection::kFromTarget;
  struct Case {
    WireDirection direction;
    std::vector<uint8_t> bytes;
    WireContext context;
    std::string names;
  };
  const std::vector<Case> cases = {
      {kOut,
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x02, 0x5D},
       {},
       "record 0x10004000, 4 bytes, checksum 0x5202"},
      {kOut,
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x52, 0x03, 0x5D},
       {},
       "record 0x10004000, 4 bytes, checksum 0x5203 (wrong: 0x5202 computed)"},
      {kOut,
       {0x5B, 0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x02, 0x5D},
       {false, true, false, false},
       "erase record 0x10000000 to 0x10020000, checksum 0x0002"},
      {kOut, {0x5B, 0x00, 0x04, 0x10}, {}, ""},
      {kOut, {SYNC_CODE, SYNC_CODE, ERASE_CODE}, {}, "SYNC_CODE x2, ERASE_CODE"},
      {kIn, std::vector<uint8_t>(201, REC_WAIT_CODE), {}, "REC_WAIT_CODE x201"},
      {kIn,
       {REC_WAIT_CODE, 0x00, NO_REC_END},
       {true, false, false, false},
       "REC_WAIT_CODE, NO_REC_END"},
      {kIn, {SYNC_CODE}, {true, false, false, false}, "SYNC_CODE (accepted)"},
      {kIn, {0x33, TYPE_QUERY_CODE, 0xFF}, {false, false, true, false}, "type reply, TypeID -1"},
      {kIn, {'$', 'V', 'E', 'R', ' ', '1', '\r', '\n'}, {}, "version reply"},
      {kIn, {'V', 'E', 'R', ' ', '1'}, {false, false, false, true}, "version reply"},
  };
  for (const Case& c : cases) {
    WireContext context = c.context;
    char names[256];
    NameBurst(Burst(c.direction, c.bytes), context, names, sizeof names);
    EXPECT_EQ(names, c.names);
  }
}

}  // namespace
}  // namespace gpsfw::test
