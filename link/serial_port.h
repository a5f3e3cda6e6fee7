#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serial_driver.h"
#include "platform/serial_port_list.h"
#include "report/waiting.h"

namespace gpsfw {

using PortHandle = int;
inline constexpr PortHandle INVALID_PORT = -1;

// Purge actions, combinable.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;
inline constexpr uint32_t PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Device names longer than this are refused like a missing device.
inline constexpr size_t kMaxPortName = 99;

// One run's serial port and what the run knows of its line. Owned by the run; every
// operation that reads or writes takes it.
struct SerialLink {
  // The driver the port was opened through, given by OpenPort; every call on the port goes
  // to it, also the reopen of a port that went away.
  platform::SerialDriver* driver = nullptr;
  PortHandle port = INVALID_PORT;
  uint32_t baud = 0;         // the rate the line runs at, for the observer's trace
  bool lossPending = false;  // the device went away and came back (port_loss.h)
  // A recovery pass ran out of time with bytes still coming and no loader asking for a
  // record: an application talks on the line. Set by the record transfer, taken by the
  // session.
  bool talkedOverRecovery = false;
  // The platform clock's time after which a lost port is no longer waited for (the run's
  // --give-up-after); 0 waits for ever, as a receiver's adapter may come back at any time.
  uint64_t giveUpAtUs = 0;
  // The USB serial number the port was chosen by (-p usb-serial:SERIAL), nullptr otherwise:
  // a lost port is then looked for again under whatever device the adapter comes back as,
  // among the ports under `portRoots`.
  const char* usbSerial = nullptr;
  platform::PortRoots portRoots = platform::kSystemPortRoots;
  // When the run's long waits last told the observer what they wait for.
  WaitingPace waiting;
};

// True when the port at the device path `device` (platform::PortTarget::device) opened at
// `baud` through `driver`; the link is left closed otherwise.
bool OpenPort(SerialLink& link, platform::SerialDriver& driver, const wchar_t* device,
              uint32_t baud);
void ClosePort(SerialLink& link);
bool SetBaud(SerialLink& link, uint32_t baud);
bool ReadByte(SerialLink& link, uint8_t& byte);
bool WaitForByte(SerialLink& link, uint8_t expected);
void WriteByte(SerialLink& link, uint8_t byte);
bool WriteBlock(SerialLink& link, const uint8_t* bytes, size_t length);
// `buffer` holds at least size + 1 bytes: a zero byte is stored behind what was read.
size_t ReadBlock(SerialLink& link, uint8_t* buffer, size_t size);
uint32_t CheckLineErrors(SerialLink& link);
void PurgePort(SerialLink& link, uint32_t set);
void FlushPort(SerialLink& link);

}  // namespace gpsfw
