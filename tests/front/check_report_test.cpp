// --check: the image prepared as an update would prepare it, a report of what the update
// would do, a verdict; the expected duration against a whole update in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/front/front_run.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

using Lines = std::vector<std::string>;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The seconds of the "Expected time:" line.
double ExpectedSeconds(const std::string& report) {
  const size_t at = report.find("Expected time:");
  return at == std::string::npos ? -1 : std::stod(report.substr(at + 15));
}

class CheckReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    images_ = new ImageFiles(MakeImages(*dir_, 4096, 12 * 1024));
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }
  TempDir runDir;
  static TempDir* dir_;
  static ImageFiles* images_;
};

TempDir* CheckReportTest::dir_ = nullptr;
ImageFiles* CheckReportTest::images_ = nullptr;

TEST_F(CheckReportTest, AcceptedImagesAreReportedWithWhatTheUpdateWouldDo) {
  struct Case {
    const char* name;
    std::string image;
    std::string sfld;
    Lines reported;
  };
  const std::vector<Case> cases = {
      {"binary with SFLD tail",
       images_->container,
       "",
       {"Image type:     binary", "Extent:         start 0x10000000, entry 0x10000000, 28672 bytes",
        "PFLD mode:      on",
        "SFLD source:    the image's tail (copied to " + runDir.File("tmp/sfld_tmp.hex") + ")",
        "SFLD extent:    start 0x00000000, entry 0x00000000, 2048 bytes",
        "Erase range:    0x10000000 to 0x10007000 (28 KiB)",
        "SFLD stage:     1 data record, 2048 bytes, then the end record, at 19200 baud",
        "Flash stage:    14 data records, 28672 bytes, then the end record, at 115200 baud",
        "Verdict:        accepted"}},
      {"binary, SFLD beside the program",
       images_->bare,
       images_->sfld,
       {"SFLD source:    file " + runDir.File("bin/sfld.hex"), "Verdict:        accepted"}},
      {"S-record image",
       images_->srec,
       images_->sfld,
       {"Image type:     Motorola S-record",
        "Extent:         start 0x10000000, entry 0x10000000, 28672 bytes",
        "Erase range:    0x10000000 to 0x10007000 (28 KiB)",
        "Flash stage:    14 data records, 28672 bytes, then the end record, at 115200 baud",
        "Verdict:        accepted"}},
  };
  for (const Case& c : cases) {
    const CheckRun run = RunCheck(runDir, c.image, c.sfld);
    EXPECT_EQ(run.status, 0) << c.name;
    const Lines report = SplitLines(run.report);
    for (const std::string& line : c.reported) {
      EXPECT_NE(std::find(report.begin(), report.end(), line), report.end())
          << c.name << ": " << line << "\n"
          << run.report;
    }
    EXPECT_EQ(run.log.back(), "RetCode: 0") << c.name;
  }
}

TEST_F(CheckReportTest, TheLogHoldsThePreparationOfAnUpdateAndNoMore) {
  const CheckRun check = RunCheck(runDir, images_->container);
  const FrontRun update =
      RunWithFrontEnd(runDir, sim::ReceiverConfig(), images_->container, FrontViews());
  ASSERT_EQ(update.code, 0);
  ASSERT_GE(check.log.size(), 2u);
  const Lines prepared(check.log.begin(), check.log.end() - 1);
  ASSERT_LT(prepared.size(), update.log.size());
  EXPECT_EQ(prepared, Lines(update.log.begin(), update.log.begin() + prepared.size()));
  EXPECT_EQ(prepared.back(), "Complete");
  EXPECT_EQ(update.log[prepared.size()], "Image Start address: 0x00000000")
      << "the session starts right behind the preparation";
}

TEST_F(CheckReportTest, RefusedImagesGetTheVerdictAReasonAndTheLog) {
  const std::string text = runDir.File("text.bin");
  WriteFile(text, "no image\n");
  const std::string elsewhere = runDir.File("elsewhere.srec");
  // One S3 line at 0x20000000 and its S7: well formed, but not where the PFLD lies.
  WriteFile(elsewhere, "S3092000000001020304CC\nS70520000000DA\n");
  struct Case {
    const char* name;
    std::string image;
    std::string sfld;
    Lines reported;
  };
  const std::vector<Case> cases = {
      {"no SFLD anywhere",
       images_->bare,
       "",
       {"Verdict:        refused (return code -3)", "Log:", "  SFLD section skipped",
        "  Can not open '" + runDir.File("bin/sfld.hex") + "'"}},
      {"not an image", text, images_->sfld, {"Verdict:        refused (return code -3)"}},
      {"S-record image elsewhere",
       elsewhere,
       images_->sfld,
       {"Verdict:        refused (return code -3)",
        "Reason:         the image does not start at 0x10000000",
        "  Image Start address: 0x20000000"}},
  };
  for (const Case& c : cases) {
    const CheckRun run = RunCheck(runDir, c.image, c.sfld);
    EXPECT_EQ(run.status, 253) << c.name;
    const Lines report = SplitLines(run.report);
    for (const std::string& line : c.reported) {
      EXPECT_NE(std::find(report.begin(), report.end(), line), report.end())
          << c.name << ": " << line << "\n"
          << run.report;
    }
    EXPECT_FALSE(Contains(run.report, "Expected time:")) << c.name;
    EXPECT_EQ(run.log.back(), "RetCode: -3") << c.name;
  }
}

// A damaged SFLD tail replaced by sfld.hex: the image is accepted, but the report says what
// was worked around, in text and in JSON.
TEST_F(CheckReportTest, ADamagedSfldTailIsAWarningOfTheReport) {
  std::string damaged = ReadFile(images_->container);
  damaged.back() ^= 0x01;
  const std::string image = runDir.File("damaged.bin");
  WriteFile(image, damaged);

  const CheckRun text = RunCheck(runDir, image, images_->sfld);
  EXPECT_EQ(text.status, 0);
  const Lines report = SplitLines(text.report);
  const auto warning = std::find_if(report.begin(), report.end(), [](const std::string& line) {
    return line.rfind("Warning:        the SFLD tail of image '", 0) == 0;
  });
  ASSERT_NE(warning, report.end()) << text.report;
  EXPECT_TRUE(Contains(*warning, "damaged; the SFLD from '" + runDir.File("bin/sfld.hex")))
      << *warning;
  EXPECT_NE(std::find(report.begin(), report.end(), "Verdict:        accepted with 1 warning"),
            report.end())
      << text.report;

  const CheckRun json = RunCheck(runDir, image, images_->sfld, true);
  EXPECT_EQ(json.status, 0);
  EXPECT_TRUE(Contains(json.report, "\"verdict\":\"accepted\"")) << json.report;
  EXPECT_TRUE(Contains(json.report, "\"warnings\":[\"sfld_tail_damaged\"]")) << json.report;
  EXPECT_TRUE(Contains(json.report, "\"warning_messages\":[\"the SFLD tail of image"))
      << json.report;

  const CheckRun sound = RunCheck(runDir, images_->container);
  EXPECT_FALSE(Contains(sound.report, "arning")) << sound.report;
}

// The floor leaves out only the receiver's own time and its version dialogue with the boot
// loader, which take well under a second for this image.
TEST_F(CheckReportTest, ExpectedDurationIsAFloorUnderAWholeUpdate) {
  const CheckRun check = RunCheck(runDir, images_->container);
  const FrontRun update =
      RunWithFrontEnd(runDir, sim::ReceiverConfig(), images_->container, FrontViews());
  const double expected = ExpectedSeconds(check.report);
  EXPECT_LE(expected, update.virtualSeconds);
  EXPECT_GE(expected, update.virtualSeconds - 1.5) << update.virtualSeconds;
}

}  // namespace
}  // namespace gpsfw::test
