#include "sim/expected_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "tests/sim/sim_host.h"
#include "tests/support/log_capture.h"

namespace gpsfw::sim::test {
namespace {

void PutWord(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Container(size_t fileSize, uint32_t fwEnd) {
  std::vector<uint8_t> file = Pattern(fileSize, 5);
  PutWord(file, 0x4020, 0x10004000);
  PutWord(file, 0x4024, fwEnd);
  return file;
}

// One S-record line of `type` with a four-byte address (S3/S7) or two (S0/S1).
std::string SRecord(char type, uint32_t address, const std::vector<uint8_t>& data) {
  const int addressBytes = type == '3' || type == '7' ? 4 : 2;
  std::vector<uint8_t> bytes{static_cast<uint8_t>(addressBytes + data.size() + 1)};
  for (int i = addressBytes - 1; i >= 0; --i)
    bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  bytes.push_back(static_cast<uint8_t>(~sum));
  std::string line = std::string("S") + type;
  char hex[3];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    line += hex;
  }
  return line + "\r\n";
}

TEST(ExpectedImage, ContainerUpToTheFwEndAddress) {
  const std::vector<uint8_t> file = Container(0x5000, 0x10004100);
  const std::vector<Segment> segments = ExpectedFromContainer(file);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].address, 0x10000000u);
  EXPECT_EQ(segments[0].bytes, std::vector<uint8_t>(file.begin(), file.begin() + 0x4100));
  // A file that ends before its FW end address gives what it holds.
  EXPECT_EQ(ExpectedFromContainer(Container(0x5000, 0x10008000))[0].bytes.size(), 0x5000u);
}

TEST(ExpectedImage, RefusesWhatIsNoContainer) {
  std::vector<uint8_t> wrongHeader = Container(0x5000, 0x10004100);
  PutWord(wrongHeader, 0x4020, 0x10000000);
  const std::vector<std::vector<uint8_t>> files = {
      std::vector<uint8_t>(0x4026, 0),             // too short for the FW end address
      wrongHeader, Container(0x5000, 0x0FFFFFFF),  // FW end below the flash
  };
  for (const std::vector<uint8_t>& file : files) {
    EXPECT_THROW(ExpectedFromContainer(file), std::runtime_error);
  }
}

TEST(ExpectedImage, SRecordsGiveTheirS3Data) {
  const std::string text =
      SRecord('0', 0, {'h', 'd', 'r'}) + SRecord('3', 0x10000000, {1, 2, 3, 4}) +
      SRecord('3', 0x10000004, {5, 6}) + SRecord('1', 0x2000, {9, 9}) +  // not S3: not programmed
      SRecord('3', 0x10000100, {7}) + SRecord('7', 0x10000000, {});
  const std::vector<Segment> segments = ExpectedFromSRecords(text);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].address, 0x10000000u);
  EXPECT_EQ(segments[0].bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(segments[1].address, 0x10000100u);
  EXPECT_EQ(segments[1].bytes, std::vector<uint8_t>{7});
}

TEST(ExpectedImage, RefusesBrokenSRecords) {
  std::string badSum = SRecord('3', 0x10000000, {1, 2});
  badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';
  const std::string cases[] = {
      badSum,
      "S30910000000010203\r\n",  // count says more than the line holds
      "S3091000000001020Z04\r\n",
      "X3091000000001020304\r\n",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ExpectedFromSRecords(SRecord('0', 0, {}) + text), std::runtime_error);
  }
}

TEST(ExpectedImage, LoadsEitherKindByItsContent) {
  gpsfw::test::TempDir dir;
  const std::vector<uint8_t> container = Container(0x4800, 0x10004400);
  gpsfw::test::WriteFile(dir.File("fw.bin"), std::string(container.begin(), container.end()));
  gpsfw::test::WriteFile(dir.File("fw.srec"), SRecord('3', 0x10000000, {0xAA, 0xBB}));
  EXPECT_EQ(LoadExpectedImage(dir.File("fw.bin"))[0].bytes.size(), 0x4400u);
  EXPECT_EQ(LoadExpectedImage(dir.File("fw.srec"))[0].bytes, (std::vector<uint8_t>{0xAA, 0xBB}));
  EXPECT_THROW(LoadExpectedImage(dir.File("missing")), std::runtime_error);
}

}  // namespace
}  // namespace gpsfw::sim::test
