// gpsfwsim in real time on a pty, reached through the loader's own serial port code and the
// termios driver.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "link/record_transfer.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
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

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Waits for the simulator to publish its link.
bool WaitForLink(const std::string& path) {
  return gpsfw::test::WaitForPath(path);
}

bool Open(SerialLink& port, const std::string& path) {
  const std::wstring name(path.begin(), path.end());
  return OpenPort(port, platform::Serial(), name.c_str(), 57600);
}

// The wake sequence at 57600, then 19200 from there on. The simulator learns the rate of
// the host's bytes from the pty's settings when it reads them; the pause gives it time to
// read on a busy machine before the rate changes.
void Wake(SerialLink& port) {
  SetBaud(port, 57600);
  WriteBlock(port, WAKE_SEQUENCE, sizeof WAKE_SEQUENCE);
  platform::SleepMs(100);
  SetBaud(port, 19200);
}

std::string Answer(SerialLink& port, uint8_t poll) {
  WriteByte(port, poll);
  platform::SleepMs(200);
  uint8_t buffer[256];
  const size_t n = ReadBlock(port, buffer, sizeof buffer - 1);
  return std::string(buffer, buffer + n);
}

TEST(GpsfwsimOnPty, AnswersTheLoadersSerialPortAndCleansUp) {
  TempDir dir;
  const std::string link = dir.File("gps0");
  ChildProcess sim(
      {kSimulator, "--link", link, "--time-limit", "120", "--report", dir.File("report.json")},
      dir.File("sim.out"));
  ASSERT_TRUE(WaitForLink(link));

  SerialLink port;
  ASSERT_TRUE(Open(port, link));
  Wake(port);
  EXPECT_EQ(Answer(port, SYNC_CODE), "$VER BL 2.04\r\n");
  EXPECT_EQ(Answer(port, REC_POLL_CODE), "D");
  // At the wrong rate the boot loader does not hear the poll.
  SetBaud(port, 115200);
  EXPECT_EQ(Answer(port, REC_POLL_CODE), "");
  ClosePort(port);

  // A second run of the host on the same link.
  ASSERT_TRUE(Open(port, link));
  SetBaud(port, 19200);
  EXPECT_EQ(Answer(port, REC_POLL_CODE), "D");
  ClosePort(port);

  sim.Kill();
  EXPECT_FALSE(Exists(link));
  EXPECT_NE(ReadFile(dir.File("sim.out")).find("serving on " + link), std::string::npos);
  const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.File("report.json")));
  EXPECT_EQ(report["phases"][1]["name"], "boot loader");
  EXPECT_EQ(report["phases"][1]["baud"], 19200);
  EXPECT_FALSE(report["completed"].get<bool>());
}

TEST(GpsfwsimOnPty, OnceEndsWithTheVerdictOnTheFlash) {
  TempDir dir;
  const std::string link = dir.File("gps0");
  ChildProcess sim({kSimulator, "--link", link, "--once", "--time-limit", "120"},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitForLink(link));
  SerialLink port;
  ASSERT_TRUE(Open(port, link));
  Wake(port);
  EXPECT_EQ(Answer(port, PFLD_VER_CODE), std::string(1, REC_WAIT_CODE));
  EXPECT_TRUE(SendRecord(port, DataRecord(0x20000000, Pattern(64))));
  EXPECT_TRUE(SendRecord(port, EndRecord()));
  platform::SleepMs(200);
  EXPECT_EQ(Answer(port, SYNC_CODE), std::string(1, SYNC_CODE));
  SetBaud(port, 115200);
  WriteByte(port, SYNC_CODE);
  platform::SleepMs(10);
  WriteByte(port, ERASE_CODE);
  EXPECT_TRUE(WaitForByte(port, SYNC_CODE));
  EXPECT_TRUE(SendRecord(port, EraseRecord(0x10000000, 0x10000010)));
  EXPECT_TRUE(WaitForByte(port, SYNC_CODE));  // behind the report of the one sector
  EXPECT_TRUE(SendRecord(port, DataRecord(0x10000000, Pattern(16))));
  EXPECT_TRUE(SendRecord(port, EndRecord()));
  ClosePort(port);

  EXPECT_EQ(sim.Wait(30), 0);
  EXPECT_NE(ReadFile(dir.File("sim.out")).find("flash verified: 16 bytes match"),
            std::string::npos);
}

// The short update of the test above up to its last record, as a host process runs it on its
// own: true when every answer came as it should.
bool UpToTheEndRecord(SerialLink& port) {
  Wake(port);
  bool ok = Answer(port, PFLD_VER_CODE) == std::string(1, REC_WAIT_CODE);
  ok = ok && SendRecord(port, DataRecord(0x20000000, Pattern(64))) && SendRecord(port, EndRecord());
  platform::SleepMs(200);
  ok = ok && Answer(port, SYNC_CODE) == std::string(1, SYNC_CODE);
  SetBaud(port, 115200);
  WriteByte(port, SYNC_CODE);
  platform::SleepMs(10);
  WriteByte(port, ERASE_CODE);
  ok = ok && WaitForByte(port, SYNC_CODE);
  ok = ok && SendRecord(port, EraseRecord(0x10000000, 0x10000010)) && WaitForByte(port, SYNC_CODE);
  return ok && SendRecord(port, DataRecord(0x10000000, Pattern(16)));
}

bool ShortUpdate(SerialLink& port) {
  return UpToTheEndRecord(port) && SendRecord(port, EndRecord());
}

enum class HostEnd { kExitsHoldingExclusive, kKilled };

// A loader process that updates the receiver on the link and never closes its port: it
// exits, or waits to be killed, with the tty still marked exclusive. Reports the update's
// success as one byte on `report`.
pid_t StartCarelessHost(const std::string& link, HostEnd end, int report) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  SerialLink port;
  const uint8_t ok = Open(port, link) && ShortUpdate(port) ? 1 : 0;
  (void)!::write(report, &ok, 1);
  if (end == HostEnd::kExitsHoldingExclusive) ::_exit(0);
  for (;;) ::pause();
}

// The host's one byte, or -1 when none came in `ms`.
int ReadReport(int fd, int ms) {
  pollfd ready{fd, POLLIN, 0};
  uint8_t byte = 0;
  if (::poll(&ready, 1, ms) != 1 || ::read(fd, &byte, 1) != 1) return -1;
  return byte;
}

// Reaps the host, killing it when it is still there after `ms`.
void Reap(pid_t pid, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    platform::SleepMs(10);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// The tty's exclusive flag outlives a host that does not clear it: --once must still see the
// port let go once the host's last descriptor is closed, however the host ended.
TEST(GpsfwsimOnPty, OnceEndsWhenAHostDiesWithThePortExclusive) {
  for (const HostEnd end : {HostEnd::kExitsHoldingExclusive, HostEnd::kKilled}) {
    SCOPED_TRACE(end == HostEnd::kKilled ? "killed" : "exits");
    TempDir dir;
    const std::string link = dir.File("gps0");
    ChildProcess sim({kSimulator, "--link", link, "--once", "--time-limit", "60"},
                     dir.File("sim.out"));
    ASSERT_TRUE(WaitForLink(link));
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t host = StartCarelessHost(link, end, report[1]);
    ASSERT_GT(host, 0);
    EXPECT_EQ(ReadReport(report[0], 30000), 1);
    if (end == HostEnd::kKilled) ::kill(host, SIGKILL);
    Reap(host, 5000);
    ::close(report[0]);
    ::close(report[1]);

    EXPECT_EQ(sim.Wait(5), 0);
    EXPECT_NE(ReadFile(dir.File("sim.out")).find("flash verified: 16 bytes match"),
              std::string::npos);
  }
}

// A host that reads the last verdict late, with its exclusive mode out of sight (as under
// qemu's user emulation, which cannot read the flag): the simulator must stay until the host
// has read the verdict and closed the port, or the host finds its port hung up and waits
// for it for ever.
TEST(GpsfwsimOnPty, OnceWaitsForAHostThatReadsTheLastVerdictLate) {
  TempDir dir;
  const std::string link = dir.File("gps0");
  ChildProcess sim({kSimulator, "--link", link, "--once", "--time-limit", "60"},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitForLink(link));
  SerialLink port;
  ASSERT_TRUE(Open(port, link));
  EXPECT_EQ(::ioctl(port.port, TIOCNXCL), 0);
  gpsfw::test::Awaiting("the answers of a short update");
  EXPECT_TRUE(UpToTheEndRecord(port));
  WriteByte(port, SYNC_CODE);
  EXPECT_TRUE(WaitForByte(port, REC_WAIT_CODE));
  const RecordPacket end = EndRecord();
  WriteBlock(port, end.frame, end.length);
  platform::SleepMs(3000);
  const bool stayed = sim.Running();
  EXPECT_TRUE(stayed) << "the simulator ended before the host read its last verdict";
  gpsfw::test::Awaiting("the verdict on the end record, read late");
  if (stayed) {
    EXPECT_TRUE(WaitForByte(port, SYNC_CODE));
  }
  ClosePort(port);
  EXPECT_EQ(sim.Wait(10), 0);
}

TEST(GpsfwsimOnPty, ExplainsItselfAndRefusesWhatItDoesNotKnow) {
  TempDir dir;
  ChildProcess help({kSimulator, "--help"}, dir.File("help.out"));
  EXPECT_EQ(help.Wait(30), 0);
  EXPECT_NE(ReadFile(dir.File("help.out")).find("--link PATH"), std::string::npos);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  // As large as the largest container and one byte, without taking the disk space.
  gpsfw::test::WriteFile(dir.File("huge.bin"), "");
  ASSERT_EQ(::truncate(dir.File("huge.bin").c_str(), 0x10100001), 0);
  const std::string link = dir.File("gps0");
  const std::vector<std::vector<std::string>> wrong = {
      {"--no-such-option"},
      {"--reject", "sfld"},
      {"--power-on-baud", "9600"},
      {"--silence", "flash:3:100:later"},
      {"--time-limit", "inf"},
      {"--time-limit", "nan"},
      {"--time-limit", "-5"},
      {"--time-limit", "1e300"},
      {"--flash-sectors", "4294967295x4294967295"},
      {"--flash-base", "0xFFFFF000"},
      {"--flash-sectors", "4x0"},
      {"--expect", "/dev/zero"},
      {"--expect", dir.path()},
      {"--expect", dir.File("fifo")},
      {"--expect", dir.File("huge.bin")},
      {"--expect", dir.File("absent.bin")},
      {"--garbage", "inf"},
      {"--sfld-idle-us", "0"},
      {"--reset-at", "erasure:3"},
      {"--reset-at", "erasing:3:later"},
      {"--stray-sync", "0"},
      {"--unplug", "1000:500"},  // no link
      {"--link", link, "--unplug", "1000:500", "--unplug", "1400:500"},
      {"--link", link, "--unplug", "1000:0"},
      {"--count", "0"},
      {"--count", "257"},
      {"--count", "2", "--link", link},
      {"--count", "2", "--link", dir.File("gps%d%d")},
      {"--count", "2", "--link", dir.File("gps%s")},
      {"--count", "2", "--unit", "2", "--chatter"},
      {"--unit", "one"},
  };
  for (const auto& args : wrong) {
    std::vector<std::string> argv = {kSimulator};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(gpsfw::test::RunProcess(argv, 30), 2) << args[0] << " " << args.back();
  }
  EXPECT_FALSE(Exists(link));
}

// The port goes away and a new one comes at the same link; the boot loader was left
// polled and still is.
TEST(GpsfwsimOnPty, UnpluggedPortHangsUpAndComesBackAtTheLink) {
  TempDir dir;
  const std::string link = dir.File("gps0");
  ChildProcess sim({kSimulator, "--link", link, "--unplug", "1500:1500", "--time-limit", "60",
                    "--report", dir.File("report.json")},
                   dir.File("sim.out"));
  ASSERT_TRUE(WaitForLink(link));
  SerialLink port;
  ASSERT_TRUE(Open(port, link));
  Wake(port);
  EXPECT_EQ(Answer(port, SYNC_CODE), "$VER BL 2.04\r\n");
  platform::WaitResult result = platform::WaitResult::kTimeout;
  for (int i = 0; i < 100 && result != platform::WaitResult::kHungUp; ++i) {
    result = platform::Serial().WaitReadable(port.port, 100);
    if (result == platform::WaitResult::kReadable) platform::Serial().PurgeReceive(port.port);
  }
  EXPECT_EQ(result, platform::WaitResult::kHungUp);
  EXPECT_FALSE(Exists(link));
  ClosePort(port);

  ASSERT_TRUE(WaitForLink(link));
  ASSERT_TRUE(Open(port, link));
  SetBaud(port, 19200);
  EXPECT_EQ(Answer(port, SYNC_CODE), "$VER BL 2.04\r\n");
  ClosePort(port);
  sim.Kill();
  EXPECT_NE(ReadFile(dir.File("sim.out")).find("unplugged for 1500 ms"), std::string::npos);
  const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.File("report.json")));
  ASSERT_EQ(report["outages"].size(), 1u);
  EXPECT_NEAR(report["outages"][0]["back"].get<double>(), 3.0, 0.2);
}

}  // namespace
}  // namespace gpsfw::sim::test
