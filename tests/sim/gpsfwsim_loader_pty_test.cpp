// gpsfwsim against the real loader in real time, for what only a whole update shows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
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

// One process, two receivers, two loaders at once; the second receiver alone rejects a
// record, so its loader needs a second flash stage.
TEST(GpsfwsimWithTheLoader, TwoReceiversInOneProcessEachCompleteTheirUpdate) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, kPfldSize, kFwSize, 512);
  ChildProcess sim({ProgramPath("gpsfwsim"), "--count", "2", "--link", dir.File("gps%d"), "--once",
                    "--expect", images.container, "--time-limit", "120", "--report",
                    dir.File("report.json"), "--unit", "1", "--reject", "flash:2"},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitFor(dir.File("gps0")));
  ASSERT_TRUE(WaitFor(dir.File("gps1")));
  // Each loader with a folder of its own for its temporary SFLD file: this test is about
  // the receivers, not about loaders that share one.
  const auto loader = [&](const std::string& unit) {
    std::filesystem::create_directories(dir.File("tmp" + unit));
    return std::vector<std::string>{"/usr/bin/env",           "TMPDIR=" + dir.File("tmp" + unit),
                                    ProgramPath("gpsfwload"), "-i",
                                    images.container,         "-p",
                                    dir.File("gps" + unit),   "-l",
                                    dir.File(unit + ".log")};
  };
  ChildProcess first(loader("0"));
  EXPECT_EQ(RunProcess(loader("1"), 120), 0) << ReadFile(dir.File("1.log"));
  EXPECT_EQ(first.Wait(120), 0) << ReadFile(dir.File("0.log"));
  EXPECT_EQ(sim.Wait(30), 0);
  const std::string out = ReadFile(dir.File("sim.out"));
  EXPECT_NE(out.find("unit 0 (" + dir.File("gps0") + "): " + kVerified), std::string::npos) << out;
  EXPECT_NE(out.find("unit 1 (" + dir.File("gps1") + "): " + kVerified), std::string::npos) << out;
  const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.File("report.json")));
  ASSERT_EQ(report["units"].size(), 2u);
  // The injected rejection belongs to the second receiver alone.
  const auto injected = [&](int unit) {
    int count = 0;
    for (const auto& record : report["units"][unit]["records"]["list"]) {
      count += record["reason"] == "injected fault";
    }
    return count;
  };
  EXPECT_EQ(injected(0), 0);
  EXPECT_EQ(injected(1), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("gps0")));
}

}  // namespace
}  // namespace gpsfw::test
