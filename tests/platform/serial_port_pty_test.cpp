#include <termios.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/serial_port.h"
#include "platform/serial_driver.h"
#include "platform/text.h"
#include "tests/platform/pty_pair.h"
#include "tests/support/log_capture.h"

namespace gpsfw {
namespace {

TEST(SerialPortOnPty, OpensOnceAndRefusesASecondLoader) {
  platform::InstallSerialDriver(nullptr);
  test::LogCapture log;
  test::PtyPair pty;
  wchar_t name[128];
  platform::WideFromNarrow(name, 128, pty.slavePath().c_str());

  SerialLink first;
  ASSERT_TRUE(OpenPort(first, platform::Serial(), name, 57600));
  const termios seen = pty.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&seen), B57600);

  SerialLink second;
  EXPECT_FALSE(OpenPort(second, platform::Serial(), name, 57600));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Can not open serial port 1."});
  ClosePort(first);
}

}  // namespace
}  // namespace gpsfw
