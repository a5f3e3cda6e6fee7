// S-record files made by producers that nobody here wrote: every data byte must come back
// out of the packets exactly once, in place.
#include <gtest/gtest.h>

#include "image/image_source.h"
#include "tests/image/image_test_support.h"

namespace gpsfw {
namespace {

using test::Bytes;

constexpr uint32_t kBase = 0x10000000;

class ForeignSRecord : public ::testing::Test {
 protected:
  // Opens `srec` through the image source and checks type, extent and reassembled data.
  void ExpectDelivers(const std::string& srec, const Bytes& data) {
    ImageSource image;
    ASSERT_TRUE(image.Open(srec.c_str()));
    ASSERT_EQ(image.Type(), kImageSRecord);
    ASSERT_TRUE(image.Scan());
    EXPECT_EQ(image.Extent().start, kBase);
    EXPECT_EQ(image.Extent().size, data.size());
    image.Rewind();
    const test::Delivery d = test::Drain(image);
    ASSERT_TRUE(d.ok);
    for (size_t i = 0; i + 1 < d.sizes.size(); ++i) EXPECT_EQ(d.sizes[i], 2048) << i;
    Bytes joined;
    ASSERT_TRUE(test::Joined(d, kBase, joined));
    EXPECT_EQ(joined, data);
  }
  test::TempDir dir_;
};

TEST_F(ForeignSRecord, Objcopy) {
  if (!test::HaveProgram("objcopy")) GTEST_SKIP() << "objcopy (binutils) is not installed";
  const Bytes data = test::PseudoRandom(10007, 21);
  const std::string bin = dir_.File("data.bin");
  test::WriteBytes(bin, data);
  for (int length : {1, 7, 16, 31, 32}) {
    SCOPED_TRACE("--srec-len " + std::to_string(length));
    // objcopy writes the output's name into the S0 header; a short relative name keeps
    // that line within the reader's 78 characters.
    ASSERT_EQ(
        test::Run("cd " + dir_.path() + " && objcopy -I binary -O srec --srec-forceS3 --srec-len " +
                  std::to_string(length) + " --change-addresses 0x10000000 data.bin o.srec"),
        0);
    const std::string srec = dir_.File("o.srec");
    ExpectDelivers(srec, data);
  }
}

TEST_F(ForeignSRecord, SrecCat) {
  if (!test::HaveProgram("srec_cat")) {
    GTEST_SKIP() << "srec_cat is not installed (Debian package srecord)";
  }
  const Bytes data = test::PseudoRandom(6001, 22);
  const std::string bin = dir_.File("data.bin");
  test::WriteBytes(bin, data);
  for (const char* format : {"-obs=32", "-obs=13 -crlf", "-obs=32 -crlf"}) {
    SCOPED_TRACE(format);
    const std::string srec = dir_.File("srec_cat.srec");
    ASSERT_EQ(test::Run("srec_cat " + bin + " -binary -offset 0x10000000 -o " + srec +
                        " -motorola -address-length=4 " + format),
              0);
    ExpectDelivers(srec, data);
  }
}

}  // namespace
}  // namespace gpsfw
