// Placeholder until the termios driver lands: every open fails.
#include "platform/termios_serial_driver.h"

namespace gpsfw::platform {
namespace {

class NoSerialDriver final : public SerialDriver {
 public:
  int Open(const char*) override { return -1; }
  void Close(int) override {}
  bool Configure(int, uint32_t) override { return false; }
  long Read(int, uint8_t*, size_t) override { return -1; }
  long Write(int, const uint8_t*, size_t) override { return -1; }
  WaitResult WaitReadable(int, uint32_t) override { return WaitResult::kHungUp; }
  void PurgeReceive(int) override {}
  void Drain(int) override {}
  bool TakeLineErrors(int, uint32_t*) override { return false; }
};

}  // namespace

SerialDriver& TermiosSerialDriver() {
  static NoSerialDriver driver;
  return driver;
}

}  // namespace gpsfw::platform
