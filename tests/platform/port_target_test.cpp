#include "platform/port_target.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <stdlib.h>
#include <unistd.h>

#include "platform/port_diagnosis.h"

namespace gpsfw::platform {
namespace {

TEST(ResolvePort, NamesTheDeviceTheSerialToFollowAndAMissingColon) {
  const struct {
    const char* given;
    const char* chosen;
    const char* device;
    const char* usbSerial;
    bool lacksColon;
  } cases[] = {
      {"GPS1:", "GPS1:", "/dev/gps0", "", false},
      {"com3:", "com3:", "/dev/ttyS2", "", false},
      {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0", "", false},
      {"usb-serial:A10K1ABC", "/dev/ttyUSB3", "/dev/ttyUSB3", "A10K1ABC", false},
      // No adapter had the number: the name stays as given and opens nothing.
      {"usb-serial:NONE", "usb-serial:NONE", "usb-serial:NONE", "NONE", false},
      {"COM3", "COM3", "COM3", "", true},
      {"gps12", "gps12", "gps12", "", true},
      {"COM3x", "COM3x", "COM3x", "", false},
  };
  for (const auto& c : cases) {
    PortTarget port;
    EXPECT_TRUE(ResolvePort(c.given, c.chosen, &port)) << c.given;
    EXPECT_STREQ(port.given, c.given);
    EXPECT_STREQ(port.chosen, c.chosen);
    EXPECT_STREQ(port.device, c.device) << c.given;
    EXPECT_STREQ(port.usbSerial, c.usbSerial) << c.given;
    EXPECT_EQ(port.lacksColon, c.lacksColon) << c.given;
  }
}

TEST(ResolvePort, ATooLongNameLeavesNothingToOpenAndIsSaidSo) {
  const std::string longName(kPortTextCapacity, 'x');
  PortTarget port;
  EXPECT_FALSE(ResolvePort("usb-serial:A1", longName.c_str(), &port));
  EXPECT_STREQ(port.device, "");
  PortDiagnosis diagnosis;
  DiagnosePort(port, &diagnosis);
  EXPECT_STREQ(diagnosis.text,
               "serial port 'usb-serial:A1' cannot be opened: the name is too long");
}

// The diagnosis looks at the device the run tried, also when an adapter's serial number chose
// it: a regular file there is no serial port, whatever the -p text says.
TEST(DiagnosePort, LooksAtTheDeviceTheSerialNumberChose) {
  char file[] = "/tmp/port_target_XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  PortTarget port;
  ASSERT_TRUE(ResolvePort("usb-serial:A1", file, &port));
  PortDiagnosis diagnosis;
  DiagnosePort(port, &diagnosis);
  EXPECT_STREQ(diagnosis.code, "not_a_serial_port");
  EXPECT_EQ(std::string(diagnosis.text),
            "serial port 'usb-serial:A1' (" + std::string(file) +
                ") cannot be opened: it is not a serial port (no character device)");
  ::close(fd);
  std::remove(file);

  ASSERT_TRUE(ResolvePort("COM3", "COM3", &port));
  DiagnosePort(port, &diagnosis);
  EXPECT_STREQ(diagnosis.code, "port_not_found");
  EXPECT_NE(std::string(diagnosis.text).find("; 'COM3:' (with its colon) names a port"),
            std::string::npos)
      << diagnosis.text;
}

}  // namespace
}  // namespace gpsfw::platform
