#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/serial_driver.h"
#include "report/progress_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_line.h"

namespace gpsfw {
namespace {

using test::LogCapture;
using test::ScriptedLine;
using Lines = std::vector<std::string>;

constexpr uint64_t kMs = 1000;

class SerialPortTest : public ::testing::Test {
 protected:
  SerialLink Open() {
    SerialLink port;
    OpenPort(port, line, L"/dev/ttyFAKE", 57600);
    line.sleeps.clear();
    line.readCalls = 0;
    return port;
  }
  LogCapture log;
  ScriptedLine line;
};

TEST_F(SerialPortTest, OpenFailuresAreLoggedAndLeaveNoPort) {
  struct Case {
    const char* name;
    uint32_t baud;
    bool failOpen;
    bool failConfigure;
    Lines logged;
    bool deviceOpened;
  };
  const std::vector<Case> cases = {
      {"unsupported rate", 14400, false, false, {"Incorrect baud."}, false},
      {"missing device", 57600, true, false, {"Can not open serial port 1."}, true},
      {"settings refused", 57600, false, true, {"SetCommState return error"}, true},
  };
  for (const Case& c : cases) {
    LogCapture caseLog;
    ScriptedLine caseLine;
    caseLine.failOpen = c.failOpen;
    caseLine.failConfigure = c.failConfigure;
    SerialLink port;
    EXPECT_FALSE(OpenPort(port, caseLine, L"/dev/ttyFAKE", c.baud)) << c.name;
    EXPECT_EQ(port.port, INVALID_PORT) << c.name;
    EXPECT_EQ(caseLog.Lines(), c.logged) << c.name;
    EXPECT_EQ(!caseLine.openedDevice.empty(), c.deviceOpened) << c.name;
  }
}

TEST_F(SerialPortTest, OpensAtEveryAcceptedRate) {
  for (uint32_t baud : {4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
    SerialLink port;
    EXPECT_TRUE(OpenPort(port, line, L"/dev/ttyFAKE", baud)) << baud;
    EXPECT_NE(port.port, INVALID_PORT) << baud;
    EXPECT_EQ(line.configured.back(), baud);
    ClosePort(port);
    EXPECT_EQ(port.port, INVALID_PORT);
    ClosePort(port);
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SerialPortTest, OverlongDeviceNameIsRefusedLikeAMissingDevice) {
  const std::wstring name(kMaxPortName + 1, L'x');
  SerialLink port;
  EXPECT_FALSE(OpenPort(port, line, name.c_str(), 57600));
  EXPECT_TRUE(line.openedDevice.empty());
  EXPECT_EQ(log.Lines(), Lines{"Can not open serial port 1."});
}

TEST_F(SerialPortTest, LineErrorsAreLoggedInFixedOrderBeforeTheRead) {
  SerialLink port = Open();
  line.QueueLineErrors(platform::kCeFrame | platform::kCeOverrun);
  line.Arrive({0x42});
  uint8_t byte = 0;
  EXPECT_TRUE(ReadByte(port, byte));
  line.QueueLineErrors(0x011F);
  EXPECT_EQ(CheckLineErrors(port), 0x011Fu);
  EXPECT_EQ(log.Lines(), (Lines{"Comm error: 0x0000000A:", "CE_FRAME", "CE_OVERRUN",
                                "Comm error: 0x0000011F:", "CE_BREAK", "CE_FRAME", "CE_OVERRUN",
                                "CE_RXOVER", "CE_RXPARITY", "CE_TXFULL"}));
}

TEST_F(SerialPortTest, ReadByteOnSilentLineWaitsTheSpanOfTenAttemptsWithOneRead) {
  SerialLink port = Open();
  uint8_t byte = 0;
  EXPECT_FALSE(ReadByte(port, byte));
  EXPECT_EQ(line.readCalls, 1);
  EXPECT_EQ(line.now(), 10 * (2 + 100) * kMs);
}

TEST_F(SerialPortTest, ReadByteTakesAByteThatArrivesDuringThePause) {
  SerialLink port = Open();
  line.Arrive({0x77}, 350);
  uint8_t byte = 0;
  EXPECT_TRUE(ReadByte(port, byte));
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(line.readCalls, 1);
  EXPECT_EQ(line.now(), 350 * kMs);
}

TEST_F(SerialPortTest, HungUpPortPausesWithPlainSleeps) {
  SerialLink port = Open();
  line.hungUp = true;
  uint8_t byte = 0;
  EXPECT_FALSE(ReadByte(port, byte));
  EXPECT_EQ(line.sleeps, std::vector<uint32_t>(10, 100));
  EXPECT_FALSE(WaitForByte(port, 0x55));
}

TEST_F(SerialPortTest, WaitForByteDropsOtherBytes) {
  SerialLink port = Open();
  line.Arrive({0x24, 0x44, 0x55, 0x99});
  EXPECT_TRUE(WaitForByte(port, 0x55));
  uint8_t byte = 0;
  EXPECT_TRUE(ReadByte(port, byte));
  EXPECT_EQ(byte, 0x99);
}

TEST_F(SerialPortTest, WaitForByteGivesUpAfterTenSecondsOfOtherBytes) {
  SerialLink port = Open();
  for (uint64_t t = 0; t < 60'000; t += 50) line.ArriveAt(t * kMs, 0x24);
  EXPECT_FALSE(WaitForByte(port, 0x55));
  EXPECT_GE(line.now(), 10'000 * kMs);
  EXPECT_LT(line.now(), 10'100 * kMs);
}

TEST_F(SerialPortTest, WaitForByteOnSilenceFailsAfterAboutOneSecond) {
  SerialLink port = Open();
  EXPECT_FALSE(WaitForByte(port, 0x55));
  EXPECT_EQ(line.now(), 1020 * kMs);
}

TEST_F(SerialPortTest, WriteBlockRetriesUntilEveryByteIsTaken) {
  SerialLink port = Open();
  line.maxPerWrite = 3;
  std::vector<uint8_t> block(14);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(WriteBlock(port, block.data(), block.size()));
  EXPECT_EQ(line.WrittenBytes(), block);
  EXPECT_EQ(line.sleeps, std::vector<uint32_t>(4, 1));
}

TEST_F(SerialPortTest, ReadBlockTerminatesWhatItRead) {
  SerialLink port = Open();
  line.Arrive({'1', '2', '3', '4', '5'});
  uint8_t buffer[256];
  buffer[5] = 0xEE;
  EXPECT_EQ(ReadBlock(port, buffer, 255), 5u);
  EXPECT_EQ(buffer[5], 0);
  EXPECT_EQ(ReadBlock(port, buffer, 255), 0u);
}

TEST_F(SerialPortTest, ReadBlockEndsAtAGapOfMoreThanOneMillisecond) {
  SerialLink port = Open();
  line.Arrive({'a', 'b'});
  line.Arrive({'c'}, 5);
  uint8_t buffer[16];
  EXPECT_EQ(ReadBlock(port, buffer, 15), 2u);
  EXPECT_EQ(ReadBlock(port, buffer, 15), 1u);
}

TEST_F(SerialPortTest, SetBaudDrainsWaitsAndReportsTheDriversVerdict) {
  SerialLink port = Open();
  line.drains = 0;
  EXPECT_TRUE(SetBaud(port, 19200));
  EXPECT_EQ(line.configured.back(), 19200u);
  line.failConfigure = true;
  EXPECT_FALSE(SetBaud(port, 115200));
  EXPECT_EQ(line.drains, 2);
  EXPECT_EQ(line.sleeps, (std::vector<uint32_t>{10, 10}));
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
}  // namespace gpsfw
