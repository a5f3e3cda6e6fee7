// The station in real time: gpsfwstation, its gpsfwload per port and simulated receivers on
// ptys, each a process of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/pty_pair.h"
#include "tests/station/station_harness.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/run/unit_files.h"

namespace gpsfw::test {
namespace {

// A few KiB of image: an update takes about 8 s on the line.
constexpr int kPfldSize = 1024;
constexpr int kFwSize = 4096;
constexpr char kVerified[] = "flash verified: 20480 bytes match";
// Generous for a loaded 2-core machine: a lone update of this image takes about 8 s.
constexpr char kUnitTimeout[] = "30";
constexpr double kRunBound = 120;

class StationRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // The loader must know --check (and with it --events): an older one has neither.
    const std::string probe = ProgramPath("gpsfwload") + " --check -i " + dir.File("none") +
                              " -l " + dir.File("probe.log") + " >/dev/null 2>&1";
    if (WEXITSTATUS(system(probe.c_str())) != 253) {
      GTEST_SKIP() << "gpsfwload has no --check and --events yet";
    }
    images = MakeImages(dir, kPfldSize, kFwSize, 512);
  }

  std::vector<std::string> Station(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                     "-i",
                                     images.container,
                                     "--log-dir",
                                     dir.File("logs"),
                                     "--report",
                                     dir.File("report.json"),
                                     "--unit-timeout",
                                     kUnitTimeout};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  nlohmann::json Report() const { return nlohmann::json::parse(ReadFile(dir.File("report.json"))); }
  std::string Output() const { return ReadFile(dir.File("station.out")); }

  TempDir dir;
  ImageFiles images;
};

TEST_F(StationRun, EveryPortCompletesAndVerifies) {
  Receivers receivers(dir, 3, images.container);
  Program station(Station(receivers.Ports()), dir.File("station.out"));
  EXPECT_EQ(station.Wait(kRunBound), 0) << Output();
  EXPECT_EQ(Count(receivers.Stop(), kVerified), 3u);
  const nlohmann::json report = Report();
  EXPECT_EQ(report["totals"]["completed"], 3);
  EXPECT_EQ(report["image"]["size"], std::filesystem::file_size(images.container));
  for (const auto& port : report["ports"]) {
    EXPECT_EQ(port["result"], "completed") << port;
    EXPECT_EQ(port["exit_status"], 0);
    EXPECT_EQ(port["bytes"], 20480);
    EXPECT_LT(port["start"].get<std::string>(), port["end"].get<std::string>());
    const std::string log = ReadFile(port["log"]);
    EXPECT_NE(log.find("FLASH upload complete.\r\nRetCode: 0\r\n"), std::string::npos) << log;
  }
  EXPECT_NE(Output().find("3 updates: 3 completed, 0 failed"), std::string::npos) << Output();
}

TEST_F(StationRun, ARefusingReceiverFailsAloneByItsTimeLimit) {
  Receivers receivers(dir, 3, images.container, {"--reject", "flash:0:0x81:always"});
  Program station(Station(receivers.Ports()), dir.File("station.out"));
  EXPECT_EQ(station.Wait(kRunBound), 1) << Output();
  EXPECT_EQ(Count(receivers.Stop(), kVerified), 2u);
  const nlohmann::json report = Report();
  EXPECT_EQ(report["totals"]["completed"], 2);
  EXPECT_EQ(report["totals"]["failed"], 1);
  const nlohmann::json& refused = report["ports"][1];
  EXPECT_EQ(refused["port"], receivers.Port(1));
  EXPECT_EQ(refused["result"], "timed_out");
  EXPECT_EQ(refused["exit_status"], 128 + SIGTERM);  // the loader ended its log and port
  EXPECT_GT(refused["retries"], 0);
  EXPECT_NE(ReadFile(refused["log"]).find("Interrupted by signal 15"), std::string::npos);
  // Where the loader stood when its time ran out depends on the machine's pace; that the
  // summary says so, and gives the loader's own code, does not.
  const std::string failed = "Failed: " + receivers.Port(1) + " (timed out while ";
  const size_t at = Output().find(failed);
  ASSERT_NE(at, std::string::npos) << Output();
  EXPECT_NE(Output().find(" wake-up", at), std::string::npos) << Output();
  EXPECT_NE(Output().find(", code -7)", at), std::string::npos) << Output();
}

TEST_F(StationRun, AWatchedPortIsFlashedOncePerConnection) {
  Program station(Station({"--watch", "--settle", "0.3", "--ports", dir.File("gps*")}),
                  dir.File("station.out"));
  const std::string log = station::LogNameForPort(dir.File("gps0"));
  // Each connection's update has a log of its own, named by its port and start.
  const auto completed = [&](size_t logs) {
    return [&, logs] {
      size_t done = 0;
      // The station makes its log folder as it starts: until then, no update has ended.
      std::error_code absent;
      for (const auto& entry : std::filesystem::directory_iterator(dir.File("logs"), absent)) {
        const std::string name = entry.path().filename().string();
        done += name.rfind(log + "-", 0) == 0 &&
                ReadFile(entry.path().string()).find("RetCode: 0") != std::string::npos;
      }
      return done == logs;
    };
  };
  for (size_t connection : {1, 2}) {
    Receivers receiver(dir, 1, images.container);
    ASSERT_TRUE(WaitFor(completed(connection), 60)) << Output();
    // Still there and done: it is not flashed again.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(Count(receiver.Stop(), kVerified), 1u);
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(30), 0) << Output();
  const nlohmann::json report = Report();
  ASSERT_EQ(report["ports"].size(), 2u) << report;
  EXPECT_EQ(report["ports"][1]["connection"], 2);
  EXPECT_EQ(report["totals"]["completed"], 2);
}

TEST_F(StationRun, ARefusedImageTouchesNoPort) {
  std::string image = ReadFile(images.container);
  image[0x4100] = static_cast<char>(image[0x4100] ^ 0x5A);  // the FW checksum fails
  WriteFile(dir.File("bad.bin"), image);
  PtyPair pty;
  std::vector<std::string> argv = Station({pty.slavePath()});
  argv[2] = dir.File("bad.bin");
  Program station(argv, dir.File("station.out"));
  EXPECT_EQ(station.Wait(30), 3);
  EXPECT_NE(Output().find("FAILED."), std::string::npos) << Output();
  EXPECT_NE(Output().find("no port was touched"), std::string::npos) << Output();
  EXPECT_EQ(pty.Receive(), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("logs")), {}), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("report.json")));
}

}  // namespace
}  // namespace gpsfw::test

namespace gpsfw::test {
namespace {

// A fixture that cuts the receiver's power as soon as its port is let go: the port vanishes in
// the same turn as the loader ends. Each connection is still a receiver to flash.
TEST_F(StationRun, AReceiverGoneAsItsLoaderEndsIsFlashedAtItsNextConnection) {
  Program station(Station({"--watch", "--settle", "0.3", "--ports", dir.File("gps*")}),
                  dir.File("station.out"));
  for (int connection = 1; connection <= 3; ++connection) {
    // --once: the receiver and its port go at the loader's last close.
    Program receiver({ProgramPath("gpsfwsim"), "--once", "--expect", images.container, "--link",
                      dir.File("gps0"), "--time-limit", "100"},
                     dir.File("sim.out"));
    EXPECT_EQ(receiver.Wait(60), 0) << "connection " << connection << "\n" << Output();
    EXPECT_NE(ReadFile(dir.File("sim.out")).find(kVerified), std::string::npos) << connection;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the next unit goes in
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(30), 0) << Output();
  EXPECT_EQ(Report()["totals"]["completed"], 3) << Output();
}

}  // namespace
}  // namespace gpsfw::test

namespace gpsfw::test {
namespace {

// The image file replaced on disk during --watch: the next receiver still gets the image that
// was checked at the start, and the station says the file changed.
TEST_F(StationRun, AnImageReplacedOnDiskIsNoticedAndNotUsed) {
  Program station(Station({"--watch", "--settle", "0.3", "--ports", dir.File("gps*")}),
                  dir.File("station.out"));
  TempDir otherDir;
  const ImageFiles other = MakeImages(otherDir, kPfldSize, kFwSize + 1024, 512);
  std::filesystem::copy_file(images.container, dir.File("original.bin"));
  for (int connection = 1; connection <= 2; ++connection) {
    if (connection == 2) {
      std::filesystem::copy_file(other.container, images.container + ".new");
      std::filesystem::rename(images.container + ".new", images.container);
    }
    // Each receiver expects the image as it was when the station started.
    Program receiver({ProgramPath("gpsfwsim"), "--once", "--expect", dir.File("original.bin"),
                      "--link", dir.File("gps0"), "--time-limit", "100"},
                     dir.File("sim.out"));
    EXPECT_EQ(receiver.Wait(60), 0) << Output();
    EXPECT_NE(ReadFile(dir.File("sim.out")).find(kVerified), std::string::npos) << connection;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(30), 0) << Output();
  EXPECT_NE(Output().find("changed on disk; still flashing the image checked at the start"),
            std::string::npos)
      << Output();
  EXPECT_EQ(Report()["image"]["changed_on_disk"], true);
}

}  // namespace
}  // namespace gpsfw::test
