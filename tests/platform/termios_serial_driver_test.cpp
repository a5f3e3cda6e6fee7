#include "platform/posix/termios_serial_driver.h"

#include <sys/stat.h>
#include <termios.h>

#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/posix/line_error_counts.h"
#include "tests/platform/pty_pair.h"
#include "tests/support/log_capture.h"

namespace gpsfw::platform {
namespace {

using test::PtyPair;

// Generous bound for "returned without a long wait" on a loaded machine.
constexpr auto kPromptly = std::chrono::seconds(1);

// The driver over one open pty slave, configured raw so that the master's bytes pass as
// they are.
class TermiosDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = driver_.Open(pty_.slavePath().c_str());
    ASSERT_GE(handle_, 0);
    ASSERT_TRUE(driver_.Configure(handle_, 57600));
  }
  void TearDown() override { driver_.Close(handle_); }

  std::string ReadUpTo(size_t size) {
    uint8_t buffer[2048];
    const long n = driver_.Read(handle_, buffer, size);
    return n > 0 ? std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(n)) : "";
  }

  // Sends `bytes` from the master after `delay`, while the test is inside a driver call.
  std::thread SendLater(std::string bytes, std::chrono::milliseconds delay) {
    return std::thread([this, bytes, delay] {
      std::this_thread::sleep_for(delay);
      pty_.Send(bytes);
    });
  }

  SerialDriver& driver_ = TermiosSerialDriver();
  PtyPair pty_;
  int handle_ = -1;
};

TEST_F(TermiosDriverTest, OpensExclusivelyAndReleasesOnClose) {
  EXPECT_EQ(driver_.Open(pty_.slavePath().c_str()), -1);
  driver_.Close(handle_);
  handle_ = driver_.Open(pty_.slavePath().c_str());
  EXPECT_GE(handle_, 0);
}

TEST_F(TermiosDriverTest, APtyRefusesLowLatencyAndIsNotAskedWhenSwitchedOff) {
  EXPECT_EQ(driver_.LowLatencyOf(handle_), LowLatency::kRefused);
  driver_.Close(handle_);
  SetLowLatencyWanted(false);
  handle_ = driver_.Open(pty_.slavePath().c_str());
  SetLowLatencyWanted(true);
  EXPECT_EQ(driver_.LowLatencyOf(handle_), LowLatency::kNotAsked);
}

TEST(TermiosDriverOpen, RefusesWhatIsNotAnExistingTty) {
  test::TempDir dir;
  const std::string regular = dir.File("plain.bin");
  test::WriteFile(regular, "not a tty");
  const std::string missing = dir.File("ttyMissing");
  for (const std::string& path : {std::string("/dev/null"), regular, missing}) {
    EXPECT_EQ(TermiosSerialDriver().Open(path.c_str()), -1) << path;
  }
  struct stat info {};
  EXPECT_NE(stat(missing.c_str(), &info), 0) << "the open must never create the device";
}

TEST_F(TermiosDriverTest, ConfiguresRaw8N1AtEachRateAndRestoresOnClose) {
  const termios before = PtyPair().SlaveSettings();  // what an untouched pty starts with
  const struct {
    uint32_t baud;
    speed_t speed;
  } rates[] = {{4800, B4800},   {9600, B9600},   {19200, B19200},
               {38400, B38400}, {57600, B57600}, {115200, B115200}};
  for (const auto& rate : rates) {
    ASSERT_TRUE(driver_.Configure(handle_, rate.baud)) << rate.baud;
    const termios seen = pty_.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&seen), rate.speed) << rate.baud;
    EXPECT_EQ(seen.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
  }
  EXPECT_FALSE(driver_.Configure(handle_, 14400));
  const termios kept = pty_.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&kept), B115200) << "a refused rate leaves the line as it was";

  driver_.Close(handle_);
  const termios after = pty_.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(TermiosDriverTest, BlockReadStopsAtSizeAndAtTheFirstGap) {
  pty_.Send("0123456789");
  EXPECT_EQ(ReadUpTo(4), "0123");
  EXPECT_EQ(ReadUpTo(64), "456789");

  // The rest comes long after a gap: the read ends with what it has rather than waiting out
  // the 1 s it would allow a first byte of a 1000-byte read.
  pty_.Send("abc");
  std::thread later = SendLater("def", std::chrono::milliseconds(300));
  EXPECT_EQ(ReadUpTo(1000), "abc");
  later.join();
  EXPECT_EQ(ReadUpTo(64), "def");
}

TEST_F(TermiosDriverTest, FirstByteWaitGrowsWithTheRequestedSize) {
  std::thread later = SendLater("xyz", std::chrono::milliseconds(200));
  EXPECT_EQ(ReadUpTo(2000), "xyz");
  later.join();

  const auto start = std::chrono::steady_clock::now();
  uint8_t byte = 0;
  EXPECT_EQ(driver_.Read(handle_, &byte, 1), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kPromptly);
}

TEST_F(TermiosDriverTest, WritesReachTheOtherEndUnchanged) {
  const std::string bytes("U\r\n\x11\x13\x00\xff", 7);
  EXPECT_EQ(driver_.Write(handle_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
            7);
  driver_.Drain(handle_);
  EXPECT_EQ(pty_.Receive(), bytes);
}

// A receiver that stops reading leaves the host's bytes queued; the drain before a speed
// change must still end, and the port must still work once the other side reads again.
TEST_F(TermiosDriverTest, DrainEndsWhenTheOtherSideStopsReading) {
  const std::string block(1024, 'U');
  const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
  for (int i = 0; i < 1000 && driver_.Write(handle_, bytes, block.size()) > 0; ++i) {
  }
  const auto start = std::chrono::steady_clock::now();
  driver_.Drain(handle_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(driver_.Lost(handle_));
  while (!pty_.Receive().empty()) {
  }
  EXPECT_EQ(driver_.Write(handle_, bytes, 1), 1);
  EXPECT_EQ(pty_.Receive(), "U");
}

TEST_F(TermiosDriverTest, PurgeDropsWhatWasReceived) {
  pty_.Send("stale");
  ASSERT_EQ(driver_.WaitReadable(handle_, 1000), WaitResult::kReadable);
  driver_.PurgeReceive(handle_);
  EXPECT_EQ(ReadUpTo(64), "");
  pty_.Send("fresh");
  EXPECT_EQ(ReadUpTo(64), "fresh");
}

TEST_F(TermiosDriverTest, WaitReadableReportsBytesSilenceAndHangUp) {
  EXPECT_EQ(driver_.WaitReadable(handle_, 10), WaitResult::kTimeout);
  pty_.Send("U");
  EXPECT_EQ(driver_.WaitReadable(handle_, 1000), WaitResult::kReadable);
  EXPECT_EQ(ReadUpTo(1), "U");

  pty_.CloseMaster();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(driver_.WaitReadable(handle_, 10000), WaitResult::kHungUp);
  uint8_t byte = 0;
  EXPECT_LE(driver_.Read(handle_, &byte, 1), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kPromptly) << "a dead port never waits";
}

TEST_F(TermiosDriverTest, PtyHasNoLineErrorCounters) {
  uint32_t flags = 0xFFFF;
  EXPECT_TRUE(driver_.TakeLineErrors(handle_, &flags));
  EXPECT_EQ(flags, 0u);
}

TEST(LineErrorFlags, EachGrownCounterSetsItsFlag) {
  const LineErrorCounts before{7, 7, 7, 7, 7};
  const struct {
    uint32_t LineErrorCounts::*counter;
    uint32_t flag;
  } cases[] = {{&LineErrorCounts::breaks, kCeBreak},
               {&LineErrorCounts::frame, kCeFrame},
               {&LineErrorCounts::overrun, kCeOverrun},
               {&LineErrorCounts::bufferOverrun, kCeRxOver},
               {&LineErrorCounts::parity, kCeRxParity}};
  EXPECT_EQ(LineErrorFlags(before, before), 0u);
  for (const auto& c : cases) {
    LineErrorCounts now = before;
    now.*c.counter += 2;
    EXPECT_EQ(LineErrorFlags(before, now), c.flag);
  }
  const LineErrorCounts wrapped{0, 7, 7, 7, 7};  // the kernel's total went round
  EXPECT_EQ(LineErrorFlags(LineErrorCounts{UINT32_MAX, 7, 7, 7, 7}, wrapped), kCeBreak);
}

}  // namespace
}  // namespace gpsfw::platform

namespace gpsfw::platform {
namespace {

// A USB adapter pulled out and plugged in again: the device's name comes back with a new
// tty behind it. The handle survives, with its rate, exclusive as before.
TEST(TermiosDriverLoss, LostDeviceIsReopenedUnderItsNameWithTheSameHandle) {
  test::TempDir dir;
  const std::string link = dir.File("gps0");
  auto first = std::make_unique<test::PtyPair>();
  ASSERT_EQ(symlink(first->slavePath().c_str(), link.c_str()), 0);
  SerialDriver& driver = TermiosSerialDriver();
  const int handle = driver.Open(link.c_str());
  ASSERT_GE(handle, 0);
  ASSERT_TRUE(driver.Configure(handle, 115200));
  EXPECT_FALSE(driver.Lost(handle));

  first->CloseMaster();
  uint8_t byte = 0;
  EXPECT_EQ(driver.WaitReadable(handle, 100), WaitResult::kHungUp);
  EXPECT_TRUE(driver.Lost(handle));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(driver.Read(handle, &byte, 1), -1);
  EXPECT_EQ(driver.Write(handle, &byte, 1), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, kPromptly) << "no waiting on a lost port";
  EXPECT_FALSE(driver.Reopen(handle)) << "the old tty is still behind the name";

  test::PtyPair second;
  ASSERT_EQ(unlink(link.c_str()), 0);
  ASSERT_EQ(symlink(second.slavePath().c_str(), link.c_str()), 0);
  ASSERT_TRUE(driver.Reopen(handle));
  EXPECT_FALSE(driver.Lost(handle));
  const termios settings = second.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
  EXPECT_EQ(driver.Open(link.c_str()), -1) << "still exclusive";
  second.Send("U");
  EXPECT_EQ(driver.Read(handle, &byte, 1), 1);
  EXPECT_EQ(byte, 'U');
  driver.Close(handle);
}

}  // namespace
}  // namespace gpsfw::platform
