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
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/unit_files.h"

namespace gpsfw::test {
namespace {

// A few KiB of image: an update takes about 8 s on the line.
constexpr int kPfldSize = 1024;
constexpr int kFwSize = 4096;
constexpr char kVerified[] = "flash verified: 20480 bytes match";
// Generous for a loaded 2-core machine: a lone update of this image takes about 8 s.
constexpr char kUnitTimeout[] = "30";
constexpr double kRunBound = 120;

// A program with its standard output and error in one file; it can be signalled.
class Program {
 public:
  Program(const std::vector<std::string>& argv, const std::string& outputPath) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signal) { kill(pid_, signal); }
  int Wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

bool WaitFor(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

bool SimulatorServesMany() {
  const std::string help = ProgramPath("gpsfwsim") + " --help";
  return system((help + " | grep -q -- --count").c_str()) == 0;
}

// N simulated receivers at dir/gps0... : one gpsfwsim --count N, or one gpsfwsim per port
// where --count is not there. `unitOptions` go to receiver 1 alone.
class Receivers {
 public:
  Receivers(const TempDir& dir, int count, const std::string& image,
            const std::vector<std::string>& unitOptions = {})
      : dir_(dir) {
    const std::vector<std::string> common = {ProgramPath("gpsfwsim"), "--expect", image,
                                             "--time-limit", "200"};
    if (SimulatorServesMany()) {
      std::vector<std::string> argv = common;
      argv.insert(argv.end(), {"--count", std::to_string(count), "--link", dir.File("gps%d")});
      if (!unitOptions.empty()) argv.insert(argv.end(), {"--unit", "1"});
      argv.insert(argv.end(), unitOptions.begin(), unitOptions.end());
      sims_.push_back(std::make_unique<Program>(argv, dir.File("sim.out")));
    } else {
      for (int i = 0; i < count; ++i) {
        std::vector<std::string> argv = common;
        argv.insert(argv.end(), {"--link", Port(i)});
        if (i == 1) argv.insert(argv.end(), unitOptions.begin(), unitOptions.end());
        sims_.push_back(
            std::make_unique<Program>(argv, dir.File("sim" + std::to_string(i) + ".out")));
      }
    }
    for (int i = 0; i < count; ++i) ports_.push_back(Port(i));
    WaitFor([&] { return std::filesystem::exists(ports_.back()); }, 10);
  }
  std::string Port(int i) const { return dir_.File("gps" + std::to_string(i)); }
  const std::vector<std::string>& Ports() const { return ports_; }
  // Stops the receivers and gives what they said.
  std::string Stop() {
    std::string output;
    for (size_t i = 0; i < sims_.size(); ++i) {
      sims_[i]->Signal(SIGTERM);
      sims_[i]->Wait(10);
      output +=
          ReadFile(dir_.File(sims_.size() == 1 ? "sim.out" : "sim" + std::to_string(i) + ".out"));
    }
    return output;
  }

 private:
  const TempDir& dir_;
  std::vector<std::unique_ptr<Program>> sims_;
  std::vector<std::string> ports_;
};

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
  EXPECT_NE(Output().find("Failed: " + receivers.Port(1) + " (timed out, code 143)"),
            std::string::npos)
      << Output();
}

TEST_F(StationRun, AWatchedPortIsFlashedOncePerConnection) {
  Program station(Station({"--watch", "--settle", "0.3", "--ports", dir.File("gps*")}),
                  dir.File("station.out"));
  const std::string log = station::LogNameForPort(dir.File("gps0"));
  const std::string logs = dir.File("logs") + "/";
  const auto completed = [&](const std::string& name) {
    return [&, name] { return ReadFile(logs + name).find("RetCode: 0") != std::string::npos; };
  };
  for (const char* connection : {".log", "-2.log"}) {
    Receivers receiver(dir, 1, images.container);
    ASSERT_TRUE(WaitFor(completed(log + connection), 60)) << Output();
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
  EXPECT_EQ(station.Wait(30), 1);
  EXPECT_NE(Output().find("FAILED."), std::string::npos) << Output();
  EXPECT_NE(Output().find("no port was touched"), std::string::npos) << Output();
  EXPECT_EQ(pty.Receive(), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("logs")), {}), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("report.json")));
}

}  // namespace
}  // namespace gpsfw::test
