#include "platform/serial_driver.h"

#include "platform/host_serial_driver.h"

namespace gpsfw::platform {
namespace {

SerialDriver* g_driver = nullptr;

}  // namespace

SerialDriver& Serial() {
  return g_driver != nullptr ? *g_driver : HostSerialDriver();
}

void InstallSerialDriver(SerialDriver* driver) {
  g_driver = driver;
}

}  // namespace gpsfw::platform
