#include <fcntl.h>
#include <sys/file.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "front/port_list_output.h"
#include "platform/adapter_latency.h"
#include "platform/serial_port_list.h"
#include "platform/unique_fd.h"
#include "tests/support/log_capture.h"

namespace gpsfw::platform {
namespace {

namespace fs = std::filesystem;

// A host's /sys and /dev in a temporary folder, laid out as Linux lays them out: an FTDI
// adapter, a CP210x adapter, a receiver on CDC-ACM and a mainboard UART, beside a virtual
// console and an empty legacy UART slot, which are no serial ports.
class FakeHost {
 public:
  FakeHost() {
    const std::string usb = sys() + "/devices/pci0000:00/0000:00:14.0/usb1";
    AddUsbDevice(usb + "/1-1", {"0403", "6001", "FTDI", "FT232R USB UART", "A10K1ABC"});
    AddUsbDevice(usb + "/1-2", {"10c4", "ea60", "Silicon Labs", "CP2102 USB to UART", "0001"});
    AddUsbDevice(usb + "/1-3", {"1209", "7a01", "Example GNSS", "Receiver \"R1\"", ""});
    const std::string ftdi = usb + "/1-1/1-1:1.0/ttyUSB0";
    AddTty("ttyUSB0", ftdi, "ftdi_sio");
    test::WriteFile(ftdi + "/latency_timer", "16\n");
    AddTty("ttyUSB1", usb + "/1-2/1-2:1.0/ttyUSB1", "cp210x");
    AddTty("ttyACM0", usb + "/1-3/1-3:1.0", "cdc_acm");
    AddTty("ttyS0", sys() + "/devices/platform/serial8250", "serial8250");
    test::WriteFile(sys() + "/class/tty/ttyS0/type", "0\n");
    // A UART on the mainboard, behind the serial core's port and controller devices.
    const std::string uart = sys() + "/devices/pnp0/00:01";
    AddTty("ttyS1", uart + "/00:01:0/00:01:0.0", "port", "serial-base");
    fs::create_symlink(sys() + "/bus/serial-base/drivers/ctrl", uart + "/00:01:0/driver");
    fs::create_symlink(sys() + "/bus/pnp/drivers/serial", uart + "/driver");
    test::WriteFile(sys() + "/class/tty/ttyS1/type", "4\n");
    fs::create_directories(sys() + "/class/tty/tty0");  // no device: a virtual console
    fs::create_directories(dev() + "/serial/by-id");
    fs::create_directories(dev() + "/serial/by-path");
    fs::create_symlink("../../ttyUSB0",
                       dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0");
    fs::create_symlink("../../ttyUSB0",
                       dev() + "/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
  }

  std::string sys() const { return dir_.path() + "/sys"; }
  std::string dev() const { return dir_.path() + "/dev"; }
  PortRoots roots() const { return PortRoots{sysRoot_.c_str(), devRoot_.c_str()}; }

 private:
  struct UsbStrings {
    const char *vendor, *product, *manufacturer, *name, *serial;
  };

  static void AddUsbDevice(const std::string& folder, const UsbStrings& usb) {
    fs::create_directories(folder);
    test::WriteFile(folder + "/idVendor", std::string(usb.vendor) + "\n");
    test::WriteFile(folder + "/idProduct", std::string(usb.product) + "\n");
    test::WriteFile(folder + "/manufacturer", std::string(usb.manufacturer) + "\n");
    test::WriteFile(folder + "/product", std::string(usb.name) + "\n");
    if (usb.serial[0] != '\0') test::WriteFile(folder + "/serial", std::string(usb.serial) + "\n");
  }

  void AddTty(const std::string& name, const std::string& device, const std::string& driver,
              const std::string& bus = "usb-serial") {
    const std::string drivers = sys() + "/bus/" + bus + "/drivers/" + driver;
    fs::create_directories(device);
    fs::create_directories(drivers);
    fs::create_directories(sys() + "/class/tty/" + name);
    fs::create_symlink(device, sys() + "/class/tty/" + name + "/device");
    if (!fs::exists(device + "/driver")) fs::create_symlink(drivers, device + "/driver");
    fs::create_directories(dev());
    test::WriteFile(dev() + "/" + name, "");
  }

  test::TempDir dir_;
  std::string sysRoot_ = sys();
  std::string devRoot_ = dev();
};

std::string Render(void (*write)(std::FILE*, const SerialPortList&), const SerialPortList& list) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  write(out, list);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST(SysfsPortList, ListsEveryAdapterWithWhatTellsItApartAndWhichIsInUse) {
  FakeHost host;
  // Another loader holds the CP210x port.
  UniqueFd holder(::open((host.dev() + "/ttyUSB1").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.Get(), LOCK_EX | LOCK_NB), 0);

  static SerialPortList list;
  ASSERT_TRUE(ListSerialPorts(host.roots(), PortProbe::kTryOpen, &list));
  const std::string d = host.dev();
  EXPECT_EQ(Render(WritePortListText, list),
            d +
                "/ttyACM0: cdc_acm, USB 1209:7a01, Example GNSS, Receiver \"R1\"\n"
                "  free\n" +
                d + "/ttyS1: serial\n  free\n" + d +
                "/ttyUSB0: ftdi_sio, USB 0403:6001, FTDI, FT232R USB UART, serial A10K1ABC\n" +
                "  by-id    " + d + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0\n" +
                "  by-path  " + d + "/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0\n" +
                "  latency timer 16 ms, free\n" + d +
                "/ttyUSB1: cp210x, USB 10c4:ea60, Silicon Labs, CP2102 USB to UART, serial 0001\n"
                "  in use\n");

  const std::string json = Render(WritePortListJson, list);
  EXPECT_NE(
      json.find("\"product\": \"Receiver \\\"R1\\\"\", \"serial\": null}, \"latency_timer_ms\": "
                "null, \"accessible\": true, \"in_use\": false}"),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"latency_timer_ms\": 16, \"accessible\": true, \"in_use\": false}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"serial\": \"0001\"}, \"latency_timer_ms\": null, \"accessible\": true, "
                      "\"in_use\": true}\n], \"truncated\": false}\n"),
            std::string::npos)
      << json;

  // Without the try, nothing is known of the use, and the holder is not disturbed.
  ASSERT_TRUE(ListSerialPorts(host.roots(), PortProbe::kNoOpen, &list));
  ASSERT_EQ(list.count, 4u);
  for (size_t i = 0; i < list.count; ++i) EXPECT_EQ(list.ports[i].use, PortUse::kUnknown);
}

// Cheap adapters carry USB strings in Latin-1, not UTF-8: the list stays valid JSON, and the
// bytes can still be told apart.
TEST(SysfsPortList, Latin1UsbStringsStayValidJson) {
  FakeHost host;
  test::WriteFile(host.sys() + "/devices/pci0000:00/0000:00:14.0/usb1/1-2/manufacturer",
                  "Soci\xE9t\xE9 \xAB"
                  "GNSS\xBB\n");
  static SerialPortList list;
  ASSERT_TRUE(ListSerialPorts(host.roots(), PortProbe::kNoOpen, &list));
  const std::string json = Render(WritePortListJson, list);
  EXPECT_NE(json.find("\"manufacturer\": \"Soci\\u00E9t\\u00E9 \\u00ABGNSS\\u00BB\""),
            std::string::npos)
      << json;
  for (const char c : json) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << json;
}

TEST(SysfsPortList, AHostWithoutTtysHasNoList) {
  test::TempDir empty;
  static SerialPortList list;
  const std::string root = empty.path();
  EXPECT_FALSE(ListSerialPorts(PortRoots{root.c_str(), root.c_str()}, PortProbe::kTryOpen, &list));
  EXPECT_EQ(Render(WritePortListText, list), "No serial ports found.\n");
  EXPECT_EQ(Render(WritePortListJson, list), "{\"ports\": [], \"truncated\": false}\n");
}

TEST(AdapterLatency, WarnsOfATimerAboveTwoMillisecondsThatThePortDoesNotGetAround) {
  FakeHost host;
  const std::string byId =
      host.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0";
  const struct {
    std::string device;
    const char* timer;  // nullptr: leave the fake's timer
    LowLatency status;
    bool warn;
    int timerMs;
  } kCases[] = {
      {host.dev() + "/ttyUSB0", nullptr, LowLatency::kRefused, true, 16},
      {byId, nullptr, LowLatency::kNotAsked, true, 16},
      {byId, nullptr, LowLatency::kOn, false, 16},
      {host.dev() + "/ttyUSB0", "2\n", LowLatency::kRefused, false, 2},
      {host.dev() + "/ttyUSB1", nullptr, LowLatency::kRefused, false, -1},
      {host.dev() + "/ttyUSB9", nullptr, LowLatency::kRefused, false, -1},
  };
  const std::string timerFile = host.sys() + "/class/tty/ttyUSB0/device/latency_timer";
  for (const auto& c : kCases) {
    test::WriteFile(timerFile, c.timer != nullptr ? c.timer : "16\n");
    AdapterLatency found;
    EXPECT_EQ(AdapterLatencyWarning(c.device.c_str(), host.sys().c_str(), c.status, &found), c.warn)
        << c.device;
    EXPECT_EQ(found.timerMs, c.timerMs) << c.device;
  }

  char text[1024];
  ASSERT_TRUE(FormatLatencyWarning(text, sizeof text, byId.c_str(), 16));
  const std::string warning = text;
  EXPECT_NE(warning.find("holds received bytes for up to 16 ms"), std::string::npos);
  EXPECT_NE(warning.find("up to 48 ms longer"), std::string::npos);
  EXPECT_NE(warning.find("echo 1 > /sys/class/tty/ttyUSB0/device/latency_timer"), std::string::npos)
      << warning;
  EXPECT_FALSE(FormatLatencyWarning(text, 40, byId.c_str(), 16));
  EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace gpsfw::platform
