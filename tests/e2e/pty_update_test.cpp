// Whole updates in real time: gpsfwload and gpsfwsim as separate processes on a pty.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

// A few KiB of image, so that each update takes seconds.
constexpr int kPfldSize = 1024;
constexpr int kFwSize = 4096;

struct PtyUpdate {
  int loaderStatus = -1;
  int simStatus = -1;
  std::string log;
  std::string simOutput;
};

PtyUpdate RunOnPty(const TempDir& dir, const std::string& image,
                   const std::string& loader = ProgramPath("gpsfwload")) {
  const std::string link = dir.File("gps0");
  const std::string simOut = dir.File("sim.out");
  ChildProcess sim(
      {ProgramPath("gpsfwsim"), "--link", link, "--once", "--expect", image, "--time-limit", "240"},
      simOut);
  WaitForPath(link);
  PtyUpdate run;
  const std::string log = dir.File("update.log");
  run.loaderStatus = RunProcess({loader, "-i", image, "-p", link, "-l", log}, 240);
  run.simStatus = sim.Wait(30);
  run.log = ReadFile(log);
  run.simOutput = ReadFile(simOut);
  return run;
}

class PtyUpdateTest : public ::testing::Test {
 protected:
  PtyUpdateTest() : images(MakeImages(dir, kPfldSize, kFwSize, 512)) {}
  TempDir dir;
  ImageFiles images;
};

TEST_F(PtyUpdateTest, BinaryContainerWithSfldTail) {
  const PtyUpdate run = RunOnPty(dir, images.container);
  EXPECT_EQ(run.loaderStatus, 0) << run.log;
  EXPECT_EQ(run.simStatus, 0) << run.simOutput;
  EXPECT_NE(run.simOutput.find("flash verified: 20480 bytes match"), std::string::npos)
      << run.simOutput;
  EXPECT_NE(run.log.find("SFLD section found\r\n"), std::string::npos);
  EXPECT_NE(run.log.find("FLASH Programing Complete.\r\nFLASH upload complete.\r\nRetCode: 0\r\n"),
            std::string::npos)
      << run.log;
}

TEST_F(PtyUpdateTest, SRecordImageWithSfldBesideTheLoader) {
  // The loader looks for sfld.hex beside its own program; give it a copy of its own.
  const std::string loader = CopyProgram("gpsfwload", dir.File("bin"));
  std::filesystem::copy_file(images.sfld, dir.File("bin/sfld.hex"));
  const PtyUpdate run = RunOnPty(dir, images.srec, loader);
  EXPECT_EQ(run.loaderStatus, 0) << run.log;
  EXPECT_EQ(run.simStatus, 0) << run.simOutput;
  EXPECT_NE(run.log.find("SFLD section skipped\r\n"), std::string::npos);
  EXPECT_NE(run.log.find("Image type: Motorola S-Record\r\n"), std::string::npos);
  EXPECT_NE(run.log.find("FLASH upload complete.\r\nRetCode: 0\r\n"), std::string::npos) << run.log;
  EXPECT_NE(run.simOutput.find("flash verified: 20480 bytes match"), std::string::npos);
}

}  // namespace
}  // namespace gpsfw::test
