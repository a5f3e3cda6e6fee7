// -p usb-serial:SERIAL follows its adapter: a USB adapter that re-enumerates during an update
// comes back under another node with the same serial number, and the lost port is reopened
// there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "link/port_loss.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "platform/text.h"
#include "tests/platform/pty_pair.h"
#include "tests/support/log_capture.h"

namespace gpsfw {
namespace {

namespace fs = std::filesystem;

// A host's /sys and /dev in a temporary folder with one FTDI adapter, whose tty node in /dev
// is a link to a pty that stands for the adapter's line.
class AdapterHost {
 public:
  AdapterHost() {
    fs::create_directories(usb_);
    test::WriteFile(usb_ + "/idVendor", "0403\n");
    test::WriteFile(usb_ + "/idProduct", "6001\n");
    test::WriteFile(usb_ + "/serial", "A10K1ABC\n");
    fs::create_directories(Sys() + "/bus/usb-serial/drivers/ftdi_sio");
    fs::create_directories(Dev());
  }
  // The adapter appears as `tty`, its line the pty at `line`.
  void Enumerate(const std::string& tty, const std::string& line) {
    const std::string device = usb_ + "/1-1:1.0/" + tty;
    fs::create_directories(device);
    fs::create_symlink(Sys() + "/bus/usb-serial/drivers/ftdi_sio", device + "/driver");
    fs::create_directories(Sys() + "/class/tty/" + tty);
    fs::create_symlink(device, Sys() + "/class/tty/" + tty + "/device");
    fs::create_symlink(line, Dev() + "/" + tty);
  }
  void Remove(const std::string& tty) {
    fs::remove_all(usb_ + "/1-1:1.0/" + tty);
    fs::remove_all(Sys() + "/class/tty/" + tty);
    fs::remove(Dev() + "/" + tty);
  }
  std::string Sys() const { return dir_.path() + "/sys"; }
  std::string Dev() const { return dir_.path() + "/dev"; }
  platform::PortRoots Roots() const { return {sys_.c_str(), dev_.c_str()}; }

 private:
  test::TempDir dir_;
  std::string usb_ = Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/1-1";
  std::string sys_ = Sys();
  std::string dev_ = Dev();
};

TEST(AdapterFollow, ALostPortChosenByItsSerialIsReopenedUnderTheAdaptersNewNode) {
  AdapterHost host;
  auto first = std::make_unique<test::PtyPair>();
  host.Enumerate("ttyUSB7", first->slavePath());
  SerialLink link;
  wchar_t name[256];
  platform::WideFromNarrow(name, 256, (host.Dev() + "/ttyUSB7").c_str());
  ASSERT_TRUE(OpenPort(link, platform::Serial(), name, 115200));
  link.usbSerial = "A10K1ABC";
  link.portRoots = host.Roots();
  link.giveUpAtUs = platform::NowUs() + 20'000'000;

  // Unplugged, and back as ttyUSB8 on a new line.
  first->CloseMaster();
  host.Remove("ttyUSB7");
  test::PtyPair second;
  host.Enumerate("ttyUSB8", second.slavePath());
  uint8_t byte = 0;
  EXPECT_FALSE(ReadByte(link, byte));
  EXPECT_FALSE(platform::Serial().Lost(link.port)) << "still waiting for ttyUSB7";
  EXPECT_TRUE(TakePortLoss(link));
  second.Send("U");
  ASSERT_TRUE(ReadByte(link, byte));
  EXPECT_EQ(byte, 'U');
  ClosePort(link);
}

}  // namespace
}  // namespace gpsfw
