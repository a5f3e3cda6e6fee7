#include "update/prepare_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "image/sfld_loader.h"
#include "tests/image/image_test_support.h"
#include "tools/container_writer/container_writer.h"

namespace gpsfw {
namespace {

using test::Bytes;

constexpr char kFound[] = "SFLD section found";
constexpr char kSkipped[] = "SFLD section skipped";

class PrepareImageTest : public ::testing::Test {
 protected:
  // Runs the preparation on an image file; the log lines it wrote.
  std::vector<std::string> Prepare(const std::string& path, bool expected) {
    test::LogCapture log;
    const std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(PrepareImage(*run_, wide.c_str()), expected);
    return log.Lines();
  }
  std::string Image(const Bytes& bytes) {
    test::WriteBytes(imagePath_, bytes);
    return imagePath_;
  }
  void PlaceSfldHex(const std::string& text) {
    test::WriteFile(state_.ProgramDir() + "/sfld.hex", text);
  }
  std::vector<std::string> Binary(const std::vector<std::string>& checkLines) {
    std::vector<std::string> lines{"Opening '" + imagePath_ + "' ...", "Image type: Binary"};
    lines.insert(lines.end(), checkLines.begin(), checkLines.end());
    return lines;
  }
  static std::vector<std::string> Sfld(const char* how) {
    return {"Opening SFLD ...", how, "Complete"};
  }
  static std::vector<std::string> Cat(std::vector<std::string> a,
                                      const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  // The four lines of the container check of GoodContainer(0x800, 0x1000).
  std::vector<std::string> GoodCheck(const Bytes& image) {
    char pfld[64], fw[64];
    std::snprintf(pfld, sizeof pfld, "PFLD CRC: 0x%08x PASSED.", test::WordAt(image, 0x800));
    std::snprintf(fw, sizeof fw, "FW CRC: 0x%08x PASSED.", test::WordAt(image, 0x5000));
    return {"PFLD section found at: 0x10000000, 0x10000800", pfld,
            "FW   section found at: 0x10004000, 0x10005000", fw};
  }

  // A run of its own for each preparation, as the loader makes one per update.
  void Reset() { run_ = std::make_unique<RunState>(); }

  test::ImageFixtureState state_;
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
  std::string imagePath_ = state_.dir.File("firmware.bin");
};

TEST_F(PrepareImageTest, GoodBinaryWithTail) {
  Bytes image = test::GoodContainer(0x800, 0x1000);
  const Bytes check = image;
  tool::AppendSfld(image, test::SampleSfld(3, 0));
  const auto lines = Prepare(Image(image), true);
  EXPECT_EQ(lines,
            Cat(Sfld(kFound), Binary(Cat(GoodCheck(check), {"PFLD mode ... On", "Complete"}))));
  EXPECT_TRUE(run_->pfldMode);
  EXPECT_EQ(run_->sfld.Extent().start, 0u);
  EXPECT_EQ(run_->sfld.Extent().size, 96u);
  EXPECT_EQ(run_->firmware.Extent().size, 0x5000u);
}

TEST_F(PrepareImageTest, GoodBinaryWithoutTailLoadsSfldHex) {
  const Bytes image = test::GoodContainer(0x800, 0x1000);
  PlaceSfldHex(test::SampleSfld(2));
  const auto lines = Prepare(Image(image), true);
  EXPECT_EQ(lines,
            Cat(Sfld(kSkipped), Binary(Cat(GoodCheck(image), {"PFLD mode ... On", "Complete"}))));
  EXPECT_EQ(access(state_.dir.File("sfld_tmp.hex").c_str(), F_OK), -1);
  EXPECT_EQ(run_->sfld.Extent().size, 64u);
}

TEST_F(PrepareImageTest, GoodImageWithPfldChecksumZero) {
  Bytes image = test::GoodContainer(0x800, 0x1000);
  test::PutWord(image, 0x40, 0);
  test::Resum(image);
  test::PutWord(image, 0x40, test::WordAt(image, 0x800));
  test::Resum(image);
  PlaceSfldHex(test::SampleSfld());
  const auto lines = Prepare(Image(image), true);
  EXPECT_EQ(lines[6], "PFLD CRC: 0x00000000 PASSED.");
  EXPECT_TRUE(run_->pfldMode);
}

TEST_F(PrepareImageTest, FailureRows) {
  PlaceSfldHex(test::SampleSfld());
  Bytes fwBad = test::GoodContainer(0x800, 0x1000);
  fwBad[0x4100] ^= 0x10;
  Bytes truncated = test::GoodContainer(0x800, 0x1000);
  truncated.resize(0x4800);
  Bytes noFwHeader = test::GoodContainer(0x800, 0x1000);
  test::PutWord(noFwHeader, 0x4020, 0);

  auto lines = Prepare(Image(fwBad), false);
  EXPECT_EQ(lines.size(), 3u + 2 + 4);
  EXPECT_EQ(lines.back().substr(0, 8), "FW CRC: ");
  EXPECT_EQ(lines.back().substr(lines.back().size() - 7), "FAILED.");

  Reset();
  lines = Prepare(Image(truncated), false);
  EXPECT_EQ(lines.back().substr(lines.back().size() - 19), " 0x00000000 FAILED.");

  Reset();
  lines = Prepare(Image(noFwHeader), false);
  EXPECT_EQ(lines, Cat(Sfld(kSkipped), {"Opening '" + imagePath_ + "' ...",
                                        "Image Format Error (" + imagePath_ + ")"}));

  Reset();
  run_->pfldMode = true;
  unlink(imagePath_.c_str());
  lines = Prepare(imagePath_, false);
  EXPECT_EQ(lines, Cat(Sfld(kSkipped), {"File open error (" + imagePath_ + ")"}));
  EXPECT_TRUE(run_->pfldMode);
}

TEST_F(PrepareImageTest, SfldFailures) {
  const std::string sfldHex = state_.ProgramDir() + "/sfld.hex";
  auto lines = Prepare(imagePath_, false);
  EXPECT_EQ(lines, (std::vector<std::string>{"Opening SFLD ...", kSkipped,
                                             "Can not open '" + sfldHex + "'"}));
  Reset();
  PlaceSfldHex("S3 not a record\r\n");
  lines = Prepare(imagePath_, false);
  EXPECT_EQ(lines, (std::vector<std::string>{"Opening SFLD ...", kSkipped, "Incorrect SFLD."}));
}

TEST_F(PrepareImageTest, PlantedLinkAtTheTempPathIsNotFollowed) {
  const std::string victim = state_.dir.File("victim.txt");
  test::WriteFile(victim, "keep me");
  ASSERT_EQ(symlink(victim.c_str(), state_.dir.File("sfld_tmp.hex").c_str()), 0);
  Bytes image = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(image, test::SampleSfld());
  const auto lines = Prepare(Image(image), true);
  EXPECT_EQ(lines[1], kFound);
  EXPECT_EQ(test::ReadFile(victim), "keep me");
  EXPECT_EQ(test::ReadFile(state_.dir.File("sfld_tmp.hex")), test::SampleSfld());
}

TEST_F(PrepareImageTest, SRecordImageMadeByObjcopy) {
  if (!test::HaveProgram("objcopy")) GTEST_SKIP() << "objcopy (binutils) is not installed";
  PlaceSfldHex(test::SampleSfld());
  const std::string data = state_.dir.File("data.bin");
  test::WriteBytes(data, test::PseudoRandom(5000, 4));  // last line holds 8 bytes
  for (const char* base : {"0x10000000", "0x10004000"}) {
    SCOPED_TRACE(base);
    Reset();
    const std::string srec = state_.dir.File("image.srec");
    ASSERT_EQ(test::Run("cd " + state_.dir.path() +
                        " && objcopy -I binary -O srec --srec-forceS3 --srec-len 32 "
                        "--change-addresses " +
                        base + " data.bin image.srec"),
              0);
    const bool accepted = std::string(base) == "0x10000000";
    const auto lines = Prepare(srec, accepted);
    const std::string address = std::string("0x") + (base + 2);
    std::vector<std::string> expected =
        Cat(Sfld(kSkipped), {"Opening '" + srec + "' ...", "Image type: Motorola S-Record",
                             "Image Start address: " + address, "Image Entry point: " + address,
                             "Image Size: 5000 bytes"});
    if (accepted) expected = Cat(expected, {"PFLD mode ... On", "Complete"});
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(run_->pfldMode, accepted);
  }
}

// Nothing but a regular file is opened: a FIFO without a writer would block the open for
// ever while the port is held, and a device or a directory holds no image.
TEST_F(PrepareImageTest, ImageThatIsNoRegularFileIsRefusedAtOnce) {
  PlaceSfldHex(test::SampleSfld());
  const std::string fifo = state_.dir.File("fifo.bin");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = state_.dir.File("folder.bin");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {fifo, folder, std::string("/dev/null")}) {
    Reset();
    EXPECT_EQ(Prepare(path, false), Cat(Sfld(kSkipped), {"File open error (" + path + ")"}));
  }
}

TEST_F(PrepareImageTest, SfldThatIsNoRegularFileCannotBeOpened) {
  const std::string sfldHex = state_.ProgramDir() + "/sfld.hex";
  ASSERT_EQ(mkfifo(sfldHex.c_str(), 0600), 0);
  EXPECT_EQ(
      Prepare(Image(test::GoodContainer(0x800, 0x1000)), false),
      (std::vector<std::string>{"Opening SFLD ...", kSkipped, "Can not open '" + sfldHex + "'"}));
}

// An installed loader finds its packaged SFLD in ../share/gpsfwload/ beside bin/; the one
// beside the program comes first, and a failure names that one.
TEST_F(PrepareImageTest, SfldIsLookedForBesideTheProgramThenInTheSharedFolder) {
  const std::string shared = state_.dir.File("share/gpsfwload/sfld.hex");
  std::filesystem::create_directories(state_.dir.File("share/gpsfwload"));
  const Bytes image = test::GoodContainer(0x800, 0x1000);
  struct Case {
    bool beside;
    bool inShare;
    uint32_t sfldSize;  // 0: not loaded
  };
  for (const Case c : {Case{false, true, 96}, Case{true, true, 64}, Case{false, false, 0}}) {
    Reset();
    std::filesystem::remove(state_.ProgramDir() + "/sfld.hex");
    std::filesystem::remove(shared);
    if (c.beside) PlaceSfldHex(test::SampleSfld(2));
    if (c.inShare) test::WriteFile(shared, test::SampleSfld(3));
    const auto lines = Prepare(Image(image), c.sfldSize != 0);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], c.sfldSize != 0 ? std::string("Complete")
                                        : "Can not open '" + state_.ProgramDir() + "/sfld.hex'");
    if (c.sfldSize != 0) {
      EXPECT_EQ(run_->sfld.Extent().size, c.sfldSize);
    }
  }
}

// Another loader that extracts its own image's SFLD into the same folder while this one runs
// never changes what this one's reader sends, however often it rewinds.
TEST_F(PrepareImageTest, AnotherExtractionLeavesThisRunsSfldAsItWas) {
  const std::string ownText = test::SampleSfld(3, 0);
  Bytes own = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(own, ownText);
  ASSERT_EQ(Prepare(Image(own), true)[1], kFound);
  run_->sfld.Rewind();
  const test::Delivery before = test::Drain(run_->sfld);

  const std::string otherText = test::SampleSfld(40, 0x1000);
  Bytes other = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(other, otherText);
  const std::string otherImage = state_.dir.File("other.bin");
  test::WriteBytes(otherImage, other);
  const std::string temp = state_.dir.File("sfld_tmp.hex");
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_TRUE(ExtractSfldTo(otherImage.c_str(), temp.c_str(), nullptr));
    EXPECT_EQ(test::ReadFile(temp), otherText);
    run_->sfld.Rewind();
    const test::Delivery after = test::Drain(run_->sfld);
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(after.runs, before.runs);
  }
  EXPECT_EQ(before.addresses, (std::vector<uint32_t>{0}));
}

}  // namespace
}  // namespace gpsfw
