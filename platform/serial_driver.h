#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/low_latency.h"

namespace gpsfw::platform {

// Line error flags, in the values the loader logs them with.
inline constexpr uint32_t kCeRxOver = 0x0001;
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;
inline constexpr uint32_t kCeTxFull = 0x0100;

enum class WaitResult {
  kReadable,  // a byte is waiting
  kTimeout,   // the time passed and nothing arrived
  kHungUp,    // the device is gone; the call returned without waiting
};

// The OS side of a serial line. One process-wide instance serves the loader: the termios
// driver on a real host, a simulated line in tests. Handles are small non-negative integers.
class SerialDriver {
 public:
  virtual ~SerialDriver() = default;

  // Opens an existing tty exclusively, never creating anything. -1 when it cannot.
  virtual int Open(const char* device) = 0;
  virtual void Close(int handle) = 0;

  // Raw 8N1 at `baud`, no flow control. False when refused or the speed did not take.
  virtual bool Configure(int handle, uint32_t baud) = 0;

  // Reads up to `size` bytes. Waits at most 1 ms + 1 ms per requested byte for the first
  // byte and ends at the first gap of more than 1 ms. Bytes read, 0 for none, -1 on error.
  virtual long Read(int handle, uint8_t* buffer, size_t size) = 0;

  // Bytes the driver took (possibly fewer than `size`), or -1 on error.
  virtual long Write(int handle, const uint8_t* data, size_t size) = 0;

  // Waits up to `ms` for a received byte.
  virtual WaitResult WaitReadable(int handle, uint32_t ms) = 0;

  // Discards whatever has been received and not yet read.
  virtual void PurgeReceive(int handle) = 0;

  // Returns once every byte written has left the transmitter.
  virtual void Drain(int handle) = 0;

  // Line errors since the last call, as kCe* flags. False when the query failed.
  virtual bool TakeLineErrors(int handle, uint32_t* flags) = 0;

  // True once the device behind `handle` has gone away (a USB adapter unplugged, a hang-up,
  // EIO); it stays true until Reopen succeeds. Reads, writes and waits on a lost handle fail
  // at once without waiting, so callers must check this rather than retry.
  virtual bool Lost(int /*handle*/) { return false; }
  // Opens the device `handle` was opened on once more, exclusively and with the settings it
  // last had, and keeps the handle. False while the device is not back.
  virtual bool Reopen(int /*handle*/) { return false; }
  // The device the next Reopen of the lost `handle` opens: a USB adapter that came back under
  // another name (ttyUSB7 as ttyUSB8). False when the driver cannot follow a device.
  virtual bool Retarget(int /*handle*/, const char* /*device*/) { return false; }

  // Whether the port's driver runs at low latency, as asked at the open (or the last
  // reopen); see SetLowLatencyWanted. A simulated line has no latency to lower.
  virtual LowLatency LowLatencyOf(int /*handle*/) { return LowLatency::kNotAsked; }
};

SerialDriver& Serial();
// Installs `driver` for the whole process; nullptr brings back the termios driver.
void InstallSerialDriver(SerialDriver* driver);

}  // namespace gpsfw::platform
