// gpsfwsim against the real loader in real time, for what only a whole update shows.
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

// A small image, so that each update takes a few seconds.
constexpr int kPfldSize = 1024;
constexpr int kFwSize = 4096;
const char* const kVerified = "flash verified: 20480 bytes match";

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 400 && !std::filesystem::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return std::filesystem::exists(path);
}

TEST(GpsfwsimWithTheLoader, OnceEndsWhenTheReceiverRestartsRightBehindTheEndRecord) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, kPfldSize, kFwSize, 512);
  const std::string link = dir.File("gps0");
  ChildProcess sim({ProgramPath("gpsfwsim"), "--link", link, "--once", "--expect", images.container,
                    "--time-limit", "120", "--reset", "flash:end:application"},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitFor(link));
  EXPECT_EQ(RunProcess({ProgramPath("gpsfwload"), "-i", images.container, "-p", link, "-l",
                        dir.File("update.log")},
                       120),
            0);
  EXPECT_EQ(sim.Wait(30), 0);
  EXPECT_NE(ReadFile(dir.File("sim.out")).find(kVerified), std::string::npos)
      << ReadFile(dir.File("sim.out"));
}

}  // namespace
}  // namespace gpsfw::test
