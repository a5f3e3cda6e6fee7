#include "image/bin_image_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/image/image_test_support.h"

namespace gpsfw {
namespace {

using test::Bytes;

struct BinCase {
  const char* name;
  uint32_t fwEnd;
  size_t fileSize;
  std::vector<uint16_t> sizes;
};

TEST(BinImageReader, PacketsStopAtTheFwEndOrTheFileEnd) {
  const BinCase cases[] = {
      {"size 8 x 2048 + 256",
       0x10004100,
       0x4200,
       {2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 256}},
      {"10 x 2048, file longer", 0x10005000, 0x5800, std::vector<uint16_t>(10, 2048)},
      {"10 x 2048, file ends there", 0x10005000, 0x5000, std::vector<uint16_t>(10, 2048)},
      {"file shorter than the size",
       0x10005000,
       0x4100,
       {2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 256}},
  };
  test::TempDir dir;
  for (const BinCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = test::PseudoRandom(c.fileSize, 9);
    test::PutWord(image, 0x4020, 0x10004000);
    test::PutWord(image, 0x4024, c.fwEnd);
    const std::string path = dir.File("image.bin");
    test::WriteBytes(path, image);
    BinImageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    ASSERT_TRUE(reader.Scan());
    EXPECT_EQ(reader.Extent().start, 0x10000000u);
    EXPECT_EQ(reader.Extent().entry, 0x10000000u);
    EXPECT_EQ(reader.Extent().size, c.fwEnd - 0x10000000);
    reader.Rewind();
    const test::Delivery d = test::Drain(reader);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.sizes, c.sizes);
    Bytes joined;
    ASSERT_TRUE(test::Joined(d, 0x10000000, joined));
    const size_t sent = std::min<size_t>(c.fileSize, c.fwEnd - 0x10000000);
    EXPECT_EQ(joined, Bytes(image.begin(), image.begin() + sent));
  }
}

TEST(BinImageReader, ScanNeedsTheFwHeader) {
  test::TempDir dir;
  const std::string path = dir.File("image.bin");
  Bytes image = test::PseudoRandom(0x4100, 2);
  BinImageReader reader;
  for (uint32_t word : {0x10000000u, 0x10004001u}) {
    test::PutWord(image, 0x4020, word);
    test::WriteBytes(path, image);
    ASSERT_TRUE(reader.Open(path.c_str()));
    EXPECT_FALSE(reader.Scan()) << std::hex << word;
    EXPECT_EQ(reader.Extent().start, 0x10000000u);
  }
  image.resize(0x4026);  // the FW end word is cut
  test::PutWord(image, 0x4020, 0x10004000);
  image.resize(0x4026);
  test::WriteBytes(path, image);
  ASSERT_TRUE(reader.Open(path.c_str()));
  EXPECT_FALSE(reader.Scan());

  reader.Close();
  auto packet = std::make_unique<RecordPacket>();
  EXPECT_FALSE(reader.NextRecord(*packet));
  EXPECT_FALSE(reader.Scan());
}

}  // namespace
}  // namespace gpsfw
