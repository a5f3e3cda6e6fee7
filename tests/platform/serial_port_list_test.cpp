#include "platform/serial_port_list.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace gpsfw::platform {
namespace {

void AddPort(SerialPortList* list, const char* device, const char* serial, bool usb = true) {
  SerialPortInfo& port = list->ports[list->count++];
  port = SerialPortInfo{};
  std::strcpy(port.device, device);
  std::strcpy(port.serial, serial);
  port.usb = usb;
}

TEST(UsbSerial, OnlyTheUsbSerialPrefixNamesAnAdapter) {
  EXPECT_STREQ(UsbSerialOf("usb-serial:A10K1ABC"), "A10K1ABC");
  EXPECT_STREQ(UsbSerialOf("usb-serial:"), "");
  EXPECT_EQ(UsbSerialOf("/dev/ttyUSB0"), nullptr);
  EXPECT_EQ(UsbSerialOf("USB-SERIAL:A1"), nullptr);
}

TEST(UsbSerial, ResolvesToTheOneAdapterWithTheNumberOrSaysWhyNot) {
  static SerialPortList list;
  list.count = 0;
  AddPort(&list, "/dev/ttyUSB0", "A10K1ABC");
  AddPort(&list, "/dev/ttyUSB1", "FT2232");  // a dual-port adapter: two ports, one number
  AddPort(&list, "/dev/ttyUSB2", "FT2232");
  AddPort(&list, "/dev/ttyACM0", "");
  AddPort(&list, "/dev/ttyS4", "A10K1ABCD", false);
  const struct {
    const char* serial;
    UsbSerialMatch match;
    size_t matches;
    const char* device;
  } kCases[] = {
      {"A10K1ABC", UsbSerialMatch::kOne, 1, "/dev/ttyUSB0"},
      {"a10k1abc", UsbSerialMatch::kNone, 0, nullptr},
      {"A10K1ABCD", UsbSerialMatch::kNone, 0, nullptr},  // not a USB port
      {"", UsbSerialMatch::kNone, 0, nullptr},           // no number is no match
      {"FT2232", UsbSerialMatch::kSeveral, 2, nullptr},
  };
  for (const auto& c : kCases) {
    const SerialPortInfo* found = &list.ports[0];
    size_t matches = 99;
    EXPECT_EQ(FindUsbSerial(list, c.serial, &found, &matches), c.match) << c.serial;
    EXPECT_EQ(matches, c.matches) << c.serial;
    if (c.device == nullptr) {
      EXPECT_EQ(found, nullptr) << c.serial;
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_STREQ(found->device, c.device);
    }
  }
}

TEST(PortOrder, NumbersInNamesCountByValue) {
  static SerialPortList list;
  list.count = 0;
  for (const char* device :
       {"/dev/ttyUSB10", "/dev/ttyUSB2", "COM10", "/dev/ttyACM0", "COM3", "/dev/ttyUSB"}) {
    AddPort(&list, device, "");
  }
  SortPorts(&list);
  std::string order;
  for (size_t i = 0; i < list.count; ++i) order += std::string(list.ports[i].device) + " ";
  EXPECT_EQ(order, "/dev/ttyACM0 /dev/ttyUSB /dev/ttyUSB2 /dev/ttyUSB10 COM3 COM10 ");
}

}  // namespace
}  // namespace gpsfw::platform
