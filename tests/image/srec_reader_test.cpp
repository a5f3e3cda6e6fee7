#include "image/srec_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/image/image_test_support.h"

namespace gpsfw {
namespace {

using test::Bytes;
using test::SRecLineText;

struct LineCase {
  const char* name;
  std::string text;
  int result;
  uint8_t type;
  uint16_t length;
  uint32_t address;
};

TEST(SRecLineParse, TypesLengthsAndMalformedLines) {
  const Bytes two{0xAB, 0xCD};
  const std::string s3Full = SRecLineText(3, 0x10000000, 4, Bytes(32, 0x5A));
  std::string badSum = SRecLineText(3, 0x10000000, 4, two);
  badSum.back() = badSum.back() == '0' ? '1' : '0';
  std::string lowerHex = SRecLineText(2, 0xABCDEF, 3, two);
  for (char& c : lowerHex) c = static_cast<char>(c == 'S' ? c : std::tolower(c));
  const LineCase cases[] = {
      {"S0 header", SRecLineText(0, 0, 2, Bytes{'h', 'd', 'r'}), kLineParsed, 0, 0, 0},
      {"S1", SRecLineText(1, 0x1234, 2, two), kLineParsed, 1, 2, 0x1234},
      {"S2 lower-case digits", lowerHex, kLineParsed, 2, 2, 0xABCDEF},
      {"S3 of 78 characters", s3Full, kLineParsed, 3, 32, 0x10000000},
      {"S3 without data", SRecLineText(3, 0x10000040, 4, {}), kLineParsed, 3, 0, 0x10000040},
      {"S5 count", "S5030004F8", kLineParsed, 5, 3, 0x0004F8},
      {"S7 entry", SRecLineText(7, 0x10000100, 4, {}), kLineParsed, 7, 5, 0x10000100},
      {"S9", "S9030000FC", kLineParsed, 9, 3, 0x0000FC},
      {"79 characters", SRecLineText(3, 0, 4, Bytes(32, 1)) + "0", kLineError, 0, 0, 0},
      {"empty", "", kLineError, 0, 0, 0},
      {"lower-case s", "s9030000FC", kLineError, 0, 0, 0},
      {"leading blank", " S9030000FC", kLineError, 0, 0, 0},
      {"wrong checksum S3", badSum, kLineError, 0, 0, 0},
      {"wrong checksum S0", "S00600004844521C", kLineError, 0, 0, 0},
      {"wrong checksum S7", "S70510000100EA", kLineError, 0, 0, 0},
      {"wrong checksum S9", "S9030000FD", kLineError, 0, 0, 0},
      {"count 0", "S300", kLineError, 0, 0, 0},
      {"count below S3 address", "S30300FFFD", kLineError, 0, 0, 0},
      {"count below S1 address", "S10200FD", kLineError, 0, 0, 0},
      {"count below S7 address", "S7041000FFEC", kLineError, 0, 0, 0},
      {"count beyond the text", "S30910000000AB", kLineError, 0, 0, 0},
      {"non-hex data digit", "S3071000000001G0E7", kLineError, 0, 0, 0},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    SRecLine line{};
    ASSERT_EQ(ParseLineText(c.text.c_str(), line), c.result);
    if (c.result != kLineParsed) continue;
    EXPECT_EQ(line.type, c.type);
    EXPECT_EQ(line.length, c.length);
    EXPECT_EQ(line.address, c.address);
  }
  SRecLine line{};
  ASSERT_EQ(ParseLineText(SRecLineText(1, 0x1234, 2, two).c_str(), line), kLineParsed);
  EXPECT_EQ(line.data[0], 0xAB);
  EXPECT_EQ(line.data[1], 0xCD);
}

class SRecFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = dir_.File("image.srec");
    test::WriteFile(path, text);
    return path;
  }
  std::string Lines(const std::vector<std::string>& lines, const char* end = "\r\n") {
    std::string text;
    for (const auto& l : lines) text += l + end;
    return text;
  }
  std::string S3(uint32_t address, size_t n, uint32_t seed = 3) {
    return SRecLineText(3, address, 4, test::PseudoRandom(n, seed + address));
  }
  test::TempDir dir_;
  SRecReader reader_;
};

struct ExtentCase {
  const char* name;
  std::vector<std::string> lines;
  bool scans;
  ImageExtent extent;
};

TEST_F(SRecFile, ScanExtentCoversTheLastLine) {
  const ExtentCase cases[] = {
      {"last line's data included",
       {"S00600004844521B", S3(0x10000000, 32), S3(0x1000FFE0, 32),
        SRecLineText(7, 0x10000000, 4, {})},
       true,
       {0x10000000, 0x10000000, 0x10000}},
      {"lowest and highest in any order, last S7 wins",
       {S3(0x10000400, 16), S3(0x10000000, 32), SRecLineText(7, 0x1, 4, {}),
        SRecLineText(7, 0x10000004, 4, {})},
       true,
       {0x10000000, 0x10000004, 0x410}},
      {"single line", {S3(0x10000000, 20)}, true, {0x10000000, 0x10000000, 20}},
      {"no S3: S1 and S2 do not count",
       {SRecLineText(1, 0x100, 2, Bytes(4, 1)), SRecLineText(2, 0x100, 3, Bytes(4, 1))},
       true,
       {0xFFFFFFFF, 0xFFFFFFFF, 0}},
      {"empty file", {}, true, {0xFFFFFFFF, 0xFFFFFFFF, 0}},
      {"S7 of FFFFFFFF counts as none",
       {S3(0x10000000, 8), SRecLineText(7, 0xFFFFFFFF, 4, {})},
       true,
       {0x10000000, 0x10000000, 8}},
      {"data past the top of the address space", {S3(0xFFFFFFF0, 16)}, false, {}},
      {"malformed later line", {"S00600004844521B", "S3"}, false, {}},
  };
  for (const ExtentCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(reader_.Open(Write(Lines(c.lines)).c_str()));
    ASSERT_EQ(reader_.Scan(), c.scans);
    if (!c.scans) continue;
    EXPECT_EQ(reader_.Extent().start, c.extent.start);
    EXPECT_EQ(reader_.Extent().entry, c.extent.entry);
    EXPECT_EQ(reader_.Extent().size, c.extent.size);
  }
}

TEST_F(SRecFile, LineEndsAndLineLengthLimits) {
  const std::string full = S3(0x10000000, 32);
  ASSERT_EQ(full.size(), 78u);
  for (const char* end : {"\n", "\r\n"}) {
    ASSERT_TRUE(reader_.Open(Write(Lines({full, S3(0x10000020, 32)}, end)).c_str()));
    EXPECT_TRUE(reader_.Scan()) << "line end " << (end[0] == '\r' ? "CR LF" : "LF");
  }
  const std::vector<std::string> refused[] = {
      {full + "0"}, {std::string(300, 'S')}, {full, ""}, {full, "S9030000FC", ""}};
  for (const auto& lines : refused) {
    ASSERT_TRUE(reader_.Open(Write(Lines(lines)).c_str()));
    EXPECT_FALSE(reader_.Scan()) << lines.back().size();
  }
}

TEST_F(SRecFile, PacketsFollowRunsAndSplitAt2048) {
  std::vector<std::string> lines{"S00600004844521B"};
  for (int i = 0; i < 63; ++i) lines.push_back(S3(0x10000000 + 32 * i, 32));
  lines.push_back(S3(0x10000000 + 63 * 32, 24));  // packet holds 2040 bytes
  lines.push_back(S3(0x10000000 + 2040, 32));     // 8 bytes fit, 24 are carried over
  lines.push_back(S3(0x10000000 + 2072, 0));      // no data: passed over
  lines.push_back(S3(0x10000000 + 2072, 16));
  lines.push_back(S3(0x10001000, 32));  // a gap closes the packet
  lines.push_back(SRecLineText(7, 0x10000000, 4, {}));
  ASSERT_TRUE(reader_.Open(Write(Lines(lines)).c_str()));
  ASSERT_TRUE(reader_.Scan());
  reader_.Rewind();
  const test::Delivery d = test::Drain(reader_);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.addresses, (std::vector<uint32_t>{0x10000000, 0x10000800, 0x10001000}));
  EXPECT_EQ(d.sizes, (std::vector<uint16_t>{2048, 40, 32}));
  Bytes expected;
  for (size_t i = 1; i + 2 < lines.size(); ++i) {
    SRecLine line{};
    ASSERT_EQ(ParseLineText(lines[i].c_str(), line), kLineParsed);
    for (uint16_t k = 0; k < line.length; ++k) expected.push_back(line.data[k]);
  }
  Bytes joined;
  test::Delivery firstTwo = d;
  firstTwo.runs.pop_back();
  ASSERT_TRUE(test::Joined(firstTwo, 0x10000000, joined));
  EXPECT_EQ(joined, expected);

  // A second pass after Rewind delivers the same packets; without Rewind nothing is left.
  reader_.Rewind();
  EXPECT_EQ(test::Drain(reader_).runs, d.runs);
  EXPECT_TRUE(test::Drain(reader_).runs.empty());
}

TEST_F(SRecFile, ExactlyFullPacketCarriesNothingOver) {
  std::vector<std::string> lines;
  for (int i = 0; i < 65; ++i) lines.push_back(S3(0x10000000 + 32 * i, 32));
  ASSERT_TRUE(reader_.Open(Write(Lines(lines, "\n")).c_str()));
  reader_.Rewind();
  const test::Delivery d = test::Drain(reader_);
  EXPECT_EQ(d.sizes, (std::vector<uint16_t>{2048, 32}));
  EXPECT_EQ(d.addresses[1], 0x10000800u);
}

TEST_F(SRecFile, ProbeAndFailures) {
  ASSERT_TRUE(reader_.Open(Write("S00600004844521B\r\nS3 broken\r\n").c_str()));
  EXPECT_TRUE(reader_.Probe());
  EXPECT_FALSE(reader_.Scan());
  reader_.Rewind();
  auto packet = std::make_unique<RecordPacket>();
  EXPECT_FALSE(reader_.NextRecord(*packet));

  ASSERT_TRUE(reader_.Open(Write(std::string("\x18\xF0\x9F\xE5 binary", 11)).c_str()));
  EXPECT_FALSE(reader_.Probe());
  ASSERT_TRUE(reader_.Open(Write("").c_str()));
  EXPECT_TRUE(reader_.Probe());

  reader_.Close();
  EXPECT_FALSE(reader_.NextRecord(*packet));
  EXPECT_FALSE(reader_.Scan());
  EXPECT_FALSE(reader_.Open(dir_.path().c_str()));
  EXPECT_FALSE(reader_.Open(dir_.File("missing").c_str()));
}

}  // namespace
}  // namespace gpsfw
