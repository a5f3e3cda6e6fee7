#pragma once

#include "platform/serial_driver.h"

namespace gpsfw::platform {

// The serial line of a web page: the one port the user granted through Web Serial, held by
// the page's script (web/serial_line.js). A read that must wait awaits the port's stream and
// hands the page back to the browser meanwhile; the program is built with Asyncify for that.
// There is one line, so one handle, 0.
class WebSerialDriver final : public SerialDriver {
 public:
  int Open(const char* device) override;
  void Close(int handle) override;
  bool Configure(int handle, uint32_t baud) override;
  long Read(int handle, uint8_t* buffer, size_t size) override;
  long Write(int handle, const uint8_t* data, size_t size) override;
  WaitResult WaitReadable(int handle, uint32_t ms) override;
  void PurgeReceive(int handle) override;
  void Drain(int handle) override;
  bool TakeLineErrors(int handle, uint32_t* flags) override;
  bool Lost(int handle) override;
  bool Reopen(int handle) override;
};

}  // namespace gpsfw::platform
