#include "platform/win32/win32_usb_identity.h"

#include <gtest/gtest.h>

namespace gpsfw::platform {
namespace {

TEST(Win32UsbIdentity, AdapterKeysGiveTheirIdsAndSerialNumbers) {
  const struct {
    const char* hardwareId;
    const char* instance;  // nullptr: an FTDIBUS key
    bool parsed;
    uint16_t vendor, product;
    const char* serial;
  } kCases[] = {
      {"VID_0403+PID_6001+A10K1ABCA", nullptr, true, 0x0403, 0x6001, "A10K1ABC"},
      {"VID_0403+PID_6010+FT2232B", nullptr, true, 0x0403, 0x6010, "FT2232"},
      {"VID_0403+PID_6001", nullptr, true, 0x0403, 0x6001, ""},
      {"VID_1209&PID_7A01", "0123456789", true, 0x1209, 0x7A01, "0123456789"},
      {"VID_10C4&PID_EA60&MI_00", "6&2c3a1b0&0&0000", true, 0x10C4, 0xEA60, ""},
      {"ROOT_HUB30", "4&1", false, 0, 0, ""},
      {"VID_04+PID_6001", nullptr, false, 0, 0, ""},
  };
  for (const auto& c : kCases) {
    SerialPortInfo port{};
    const bool parsed = c.instance == nullptr ? ParseFtdiBusKey(c.hardwareId, &port)
                                              : ParseUsbKey(c.hardwareId, c.instance, &port);
    ASSERT_EQ(parsed, c.parsed) << c.hardwareId;
    if (!parsed) continue;
    EXPECT_EQ(port.vendorId, c.vendor) << c.hardwareId;
    EXPECT_EQ(port.productId, c.product) << c.hardwareId;
    EXPECT_STREQ(port.serial, c.serial) << c.hardwareId;
  }
  EXPECT_STREQ(ComPortName("\\\\.\\COM10"), "COM10");
  EXPECT_STREQ(ComPortName("COM3"), "COM3");
}

}  // namespace
}  // namespace gpsfw::platform
