// gpsfwsim's field options on a pty: the NMEA stream at its own rate through an adapter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "link/serial_port.h"
#include "platform/clock.h"
#include "tests/sim/sim_host.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/watchdog.h"

namespace gpsfw::sim::test {
namespace {

using gpsfw::test::ChildProcess;
using gpsfw::test::ReadFile;
using gpsfw::test::TempDir;

const std::string kSimulator = GPSFW_BIN_DIR "/gpsfwsim";

bool WaitForLink(const std::string& path) {
  return gpsfw::test::WaitForPath(path);
}

TEST(GpsfwsimInTheField, StreamsNmeaThroughAnAdapterAndReportsIt) {
  TempDir dir;
  const std::string link = dir.File("gps0");
  ChildProcess sim({kSimulator, "--link", link, "--time-limit", "60", "--nmea", "19200:100",
                    "--adapter-latency", "16", "--report", dir.File("report.json")},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitForLink(link));
  const std::wstring name(link.begin(), link.end());
  SerialLink port;
  ASSERT_TRUE(OpenPort(port, platform::Serial(), name.c_str(), 19200));
  std::string heard;
  for (int i = 0; i < 15; ++i) {
    platform::SleepMs(100);
    uint8_t buffer[1024];
    heard.append(reinterpret_cast<char*>(buffer), ReadBlock(port, buffer, sizeof buffer - 1));
  }
  ClosePort(port);
  sim.Kill();
  EXPECT_NE(heard.find("$GPGGA,"), std::string::npos);
  EXPECT_NE(heard.find("\r\n$GPRMC,"), std::string::npos);

  const nlohmann::json config = nlohmann::json::parse(ReadFile(dir.File("report.json")))["config"];
  EXPECT_EQ(config["nmea"]["baud"], 19200);
  EXPECT_EQ(config["nmea"]["period_ms"], 100);
  EXPECT_EQ(config["adapter_latency_ms"], 16);
}

TEST(GpsfwsimInTheField, ExplainsAndChecksTheFieldOptions) {
  TempDir dir;
  ChildProcess help({kSimulator, "--help"}, dir.File("help.out"));
  EXPECT_EQ(help.Wait(30), 0);
  const std::string text = ReadFile(dir.File("help.out"));
  EXPECT_NE(text.find("--nmea BAUD[:PERIOD_MS]"), std::string::npos);
  EXPECT_NE(text.find("--adapter-latency MS"), std::string::npos);
  const std::vector<std::vector<std::string>> wrong = {
      {"--nmea", "2400"},          {"--nmea", "230400"},         {"--nmea", "9600:0"},
      {"--nmea", "9600:100:fast"}, {"--adapter-latency", "256"}, {"--adapter-latency", "-1"},
  };
  for (const auto& args : wrong) {
    std::vector<std::string> argv = {kSimulator};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(gpsfw::test::RunProcess(argv, 30), 2) << args[0] << " " << args.back();
  }
}

}  // namespace
}  // namespace gpsfw::sim::test
