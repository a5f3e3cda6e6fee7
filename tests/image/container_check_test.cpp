#include "image/container_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "image/stdio_file.h"
#include "tests/image/image_test_support.h"

namespace gpsfw {
namespace {

using test::Bytes;
using test::PutWord;

constexpr uint32_t kPfldBytes = 0x800;
constexpr uint32_t kFwBytes = 0x1000;

struct CheckCase {
  const char* name;
  std::function<void(Bytes&)> change;
  bool accepted;
  std::vector<std::string> lines;  // "*" matches any line
};

std::vector<std::string> Found(uint32_t pfldEnd, uint32_t fwEnd) {
  char pfld[64], fw[64];
  std::snprintf(pfld, sizeof pfld, "PFLD section found at: 0x10000000, 0x%08x", pfldEnd);
  std::snprintf(fw, sizeof fw, "FW   section found at: 0x10004000, 0x%08x", fwEnd);
  return {pfld, "*", fw};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ContainerCheck : public ::testing::Test {
 protected:
  bool Check(const Bytes& image, uint32_t* sum) {
    const std::string path = dir_.File("image.bin");
    test::WriteBytes(path, image);
    StdioFile file;
    EXPECT_TRUE(file.Open(path.c_str(), "rb"));
    return CheckContainer(file.Get(), sum);
  }
  test::TempDir dir_;
};

TEST_F(ContainerCheck, RowsOfTheVerdictTable) {
  const auto good = Join(Found(0x10000800, 0x10005000), {"*"});
  const auto cut = [](size_t size) { return [size](Bytes& b) { b.resize(size); }; };
  const CheckCase cases[] = {
      {"good image", [](Bytes&) {}, true, good},
      {"size 1020", cut(1020), false, {}},
      {"size 1026", cut(1026), false, {}},
      {"PFLD end at PFLD_BASE",
       [](Bytes& b) { PutWord(b, 0x24, 0x10000000); },
       false,
       {"Incorrect Image"}},
      {"PFLD end at FW_BASE",
       [](Bytes& b) { PutWord(b, 0x24, 0x10004000); },
       false,
       {"Incorrect Image"}},
      {"FW end at FW_BASE",
       [](Bytes& b) { PutWord(b, 0x4024, 0x10004000); },
       false,
       {Found(0x10000800, 0)[0], "*", "Incorrect Image"}},
      {"FW end at the limit",
       [](Bytes& b) { PutWord(b, 0x4024, 0x10104000); },
       false,
       {Found(0x10000800, 0)[0], "*", "Incorrect Image"}},
      {"1024 bytes: no FW header",
       cut(1024),
       false,
       {Found(0x10000800, 0)[0], "*", "Incorrect Image"}},
      {"header at 0x20 of no kind",
       [](Bytes& b) { PutWord(b, 0x20, 0x12345678); },
       false,
       {"Incorrect Image"}},
      {"PFLD first word byte order",
       [](Bytes& b) {
         PutWord(b, 0, 0x189FF0E5);
         test::Resum(b);
       },
       false, Join(Found(0x10000800, 0x10005000), {"Incorrect PFLD Image"})},
      {"FW first word",
       [](Bytes& b) {
         PutWord(b, 0x4000, 0xE49FF018);
         test::Resum(b);
       },
       false, Join(Found(0x10000800, 0x10005000), {"Incorrect FW Image"})},
      {"PFLD checksum wrong, FW good",
       [](Bytes& b) { b[0x100] ^= 1; },
       false,
       {Found(0x10000800, 0)[0], "PFLD CRC: *FAILED.", Found(0, 0x10005000)[2],
        "FW CRC: *PASSED."}},
      {"FW checksum wrong", [](Bytes& b) { b[0x4100] ^= 1; }, false,
       Join(Found(0x10000800, 0x10005000), {"FW CRC: *FAILED."})},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = test::GoodContainer(kPfldBytes, kFwBytes);
    c.change(image);
    test::LogCapture log;
    uint32_t sum = 0xDEAD;
    EXPECT_EQ(Check(image, &sum), c.accepted);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), c.lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& want = c.lines[i];
      const size_t star = want.find('*');
      if (star == std::string::npos) {
        EXPECT_EQ(lines[i], want);
      } else {
        EXPECT_EQ(lines[i].substr(0, star), want.substr(0, star));
        const std::string tail = want.substr(star + 1);
        EXPECT_EQ(lines[i].substr(lines[i].size() - std::min(tail.size(), lines[i].size())), tail);
      }
    }
    if (!c.accepted) {
      EXPECT_EQ(sum, 0u);
    }
  }
}

TEST_F(ContainerCheck, ChecksumPlacementAndValues) {
  Bytes image = test::GoodContainer(kPfldBytes, kFwBytes);
  PutWord(image, 0x24, 0x10000FFE);  // stored word at 0xFFC, words 0..0xFF8 summed
  test::Resum(image);
  uint32_t expected = 0;
  for (size_t at = 0; at < 0xFFC; at += 4) expected ^= test::WordAt(image, at);
  EXPECT_EQ(test::WordAt(image, 0xFFC), expected);
  test::LogCapture log;
  uint32_t sum = 0;
  ASSERT_TRUE(Check(image, &sum));
  EXPECT_EQ(sum, expected);
  char line[64];
  std::snprintf(line, sizeof line, "PFLD CRC: 0x%08x PASSED.", expected);
  EXPECT_EQ(log.Lines()[1], line);
}

TEST_F(ContainerCheck, GoodImageWhosePfldChecksumIsZeroIsAccepted) {
  Bytes image = test::GoodContainer(kPfldBytes, kFwBytes);
  PutWord(image, 0x40, 0);
  test::Resum(image);
  PutWord(image, 0x40, test::WordAt(image, kPfldBytes));
  test::Resum(image);
  ASSERT_EQ(test::WordAt(image, kPfldBytes), 0u);
  test::LogCapture log;
  uint32_t sum = 1;
  EXPECT_TRUE(Check(image, &sum));
  EXPECT_EQ(sum, 0u);
  EXPECT_EQ(log.Lines()[1], "PFLD CRC: 0x00000000 PASSED.");
}

TEST_F(ContainerCheck, ImageCutInsideItsFwIsRefused) {
  // Cut so that the words before the cut XOR to 0: a lenient check would pass it.
  Bytes image = test::GoodContainer(kPfldBytes, kFwBytes);
  const size_t cutAt = 0x4800;
  uint32_t x = 0;
  for (size_t at = 0x4000; at < cutAt - 4; at += 4) x ^= test::WordAt(image, at);
  PutWord(image, cutAt - 4, x);
  image.resize(cutAt);
  test::LogCapture log;
  uint32_t sum = 0;
  EXPECT_FALSE(Check(image, &sum));
  EXPECT_EQ(log.Lines().back(), "FW CRC: 0x00000000 0x00000000 FAILED.");
}

TEST_F(ContainerCheck, ImageBeginningWithItsFwSectionIsRefused) {
  Bytes image = test::GoodContainer(kPfldBytes, kFwBytes);
  image.erase(image.begin(), image.begin() + 0x4000);
  test::LogCapture log;
  uint32_t sum = 0;
  EXPECT_FALSE(Check(image, &sum));
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "FW   section found at: 0x10004000, 0x10005000");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 7), "PASSED.");
  EXPECT_EQ(lines[2], "PFLD section missed or corrupted");
}

TEST_F(ContainerCheck, OversizedFileIsRefusedSilently) {
  const std::string path = dir_.File("big.bin");
  test::WriteBytes(path, test::GoodContainer(kPfldBytes, kFwBytes));
  ASSERT_EQ(truncate(path.c_str(), 0x10100004), 0);  // sparse
  test::LogCapture log;
  StdioFile file;
  ASSERT_TRUE(file.Open(path.c_str(), "rb"));
  uint32_t sum = 0;
  EXPECT_FALSE(CheckContainer(file.Get(), &sum));
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
}  // namespace gpsfw
