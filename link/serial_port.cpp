#include "link/serial_port.h"

#include <cwchar>

#include "link/port_loss.h"
#include "platform/clock.h"
#include "platform/line_speeds.h"
#include "platform/paths.h"
#include "platform/serial_driver.h"
#include "platform/text.h"
#include "protocol/host_timing.h"
#include "report/observer.h"
#include "report/progress_log.h"

namespace gpsfw {
namespace {

using platform::Serial;

constexpr uint64_t kReadByteSpanUs = kReadAttempts * (kReadAttemptMs + kReadPauseMs) * 1000;
constexpr size_t kDevicePathCapacity = 256;

// The rate the line runs at, for the observer's trace.
uint32_t g_lineBaud = 0;

void Saw(WireDirection direction, const uint8_t* bytes, size_t count) {
  Observe().OnWire(direction, bytes, count, g_lineBaud);
}

struct LineErrorName {
  uint32_t flag;
  const wchar_t* name;
};

constexpr LineErrorName kLineErrorNames[] = {
    {platform::kCeBreak, L"CE_BREAK"},       {platform::kCeFrame, L"CE_FRAME"},
    {platform::kCeOverrun, L"CE_OVERRUN"},   {platform::kCeRxOver, L"CE_RXOVER"},
    {platform::kCeRxParity, L"CE_RXPARITY"}, {platform::kCeTxFull, L"CE_TXFULL"},
};

bool IsAcceptedBaud(uint32_t baud) {
  return platform::IsLineSpeed(baud) && baud >= kSlowestBaud && baud <= kFastestBaud;
}

int OpenDevice(const wchar_t* name) {
  if (std::wcslen(name) > kMaxPortName) return -1;
  char narrow[kMaxPortName + 1];
  platform::NarrowFromWide(narrow, sizeof narrow, name);
  char device[kDevicePathCapacity];
  if (!platform::DevicePathForPort(narrow, device, sizeof device)) return -1;
  return Serial().Open(device);
}

// Waits for a byte until `deadline`. A port that has gone away is waited for; one that only
// reports a hang-up gets a plain sleep, so that no retry loop can spin.
void WaitForReadable(PortHandle port, uint64_t deadline) {
  const uint64_t now = platform::NowUs();
  if (now >= deadline) return;
  const uint64_t ms = (deadline - now + 999) / 1000;
  if (Serial().WaitReadable(port, static_cast<uint32_t>(ms)) != platform::WaitResult::kHungUp) {
    return;
  }
  if (Serial().Lost(port)) {
    RecoverLostPort(port);
  } else {
    platform::SleepMs(ms < kReadPauseMs ? static_cast<uint32_t>(ms) : kReadPauseMs);
  }
}

// After a failed call: true when the device has gone, which has then been waited for.
bool RecoveredFromLoss(PortHandle port) {
  if (!Serial().Lost(port)) return false;
  RecoverLostPort(port);
  return true;
}

}  // namespace

PortHandle OpenPort(const wchar_t* name, uint32_t baud) {
  if (!IsAcceptedBaud(baud)) {
    ReportMessage(L"Incorrect baud.", L"Error", kMessageError);
    return INVALID_PORT;
  }
  PortHandle port = OpenDevice(name);
  if (port < 0) {
    ReportMessage(L"Can not open serial port 1.", L"Error", kMessageError);
    return INVALID_PORT;
  }
  if (!Serial().Configure(port, baud)) {
    LogWide(L"SetCommState return error");
    ClosePort(port);
    return INVALID_PORT;
  }
  g_lineBaud = baud;
  // Time-outs and the event mask have no separate step: the driver's reads carry the
  // time-outs themselves, and there are no events to wait for.
  PurgePort(port, PURGE_ALL);
  return port;
}

void ClosePort(PortHandle& port) {
  if (port == INVALID_PORT) return;
  Serial().Close(port);
  port = INVALID_PORT;
}

uint32_t CheckLineErrors(PortHandle port) {
  uint32_t flags = 0;
  if (!Serial().TakeLineErrors(port, &flags) || flags == 0) return 0;
  wchar_t line[32];
  std::swprintf(line, sizeof line / sizeof line[0], L"Comm error: 0x%08X:", flags);
  LogWide(line);
  for (const LineErrorName& error : kLineErrorNames) {
    if ((flags & error.flag) != 0) LogWide(error.name);
  }
  Observe().OnLineError(flags);
  return flags;
}

// Ten attempts of a 2 ms read and a 100 ms pause, the pause ending as soon as a byte is
// there, come to one wait for readability over the attempts' whole span and then the read:
// the host wakes once per byte it waits for instead of twice per attempt, which counts on a
// station that runs many loaders. A wait that ends without a byte (a hang-up, a stray
// wake-up) uses up an attempt, so the loop ends even where time stands still.
bool ReadByte(PortHandle port, uint8_t& byte) {
  const uint64_t lastRead = platform::NowUs() + kReadByteSpanUs - kReadAttemptMs * 1000;
  for (uint64_t attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (PortLossPending()) return false;
    CheckLineErrors(port);
    WaitForReadable(port, lastRead);
    if (PortLossPending()) return false;
    uint8_t received = 0;
    const long n = Serial().Read(port, &received, 1);
    if (n == 1) {
      Saw(WireDirection::kFromTarget, &received, 1);
      byte = received;
      return true;
    }
    if (n < 0 && RecoveredFromLoss(port)) return false;
    if (platform::NowUs() >= lastRead) return false;
  }
  return false;
}

bool WaitForByte(PortHandle port, uint8_t expected) {
  const uint64_t deadline = platform::NowUs() + kWaitForByteLimitUs;
  uint8_t byte = 0;
  while (ReadByte(port, byte)) {
    if (byte == expected) return true;
    if (platform::NowUs() >= deadline) return false;
  }
  return false;
}

void WriteByte(PortHandle port, uint8_t byte) {
  // A byte for a receiver that went away with its port is of no use to it any more.
  while (!PortLossPending()) {
    CheckLineErrors(port);
    if (Serial().Write(port, &byte, 1) == 1) {
      Saw(WireDirection::kToTarget, &byte, 1);
      return;
    }
    if (RecoveredFromLoss(port)) return;
    platform::SleepMs(kWriteRetryMs);
  }
}

bool WriteBlock(PortHandle port, const uint8_t* bytes, size_t length) {
  CheckLineErrors(port);
  while (length > 0 && !PortLossPending()) {
    const long taken = Serial().Write(port, bytes, length);
    if (taken < 0) {
      if (RecoveredFromLoss(port)) break;
      platform::SleepMs(kBlockRetryMs);
      continue;
    }
    if (taken == 0) continue;
    Saw(WireDirection::kToTarget, bytes, static_cast<size_t>(taken));
    bytes += taken;
    length -= static_cast<size_t>(taken);
    if (length > 0) platform::SleepMs(kBlockRetryMs);
  }
  return true;
}

size_t ReadBlock(PortHandle port, uint8_t* buffer, size_t size) {
  if (PortLossPending()) return 0;
  CheckLineErrors(port);
  const long n = Serial().Read(port, buffer, size);
  if (n < 0) RecoveredFromLoss(port);
  if (n <= 0) return 0;
  Saw(WireDirection::kFromTarget, buffer, static_cast<size_t>(n));
  buffer[n] = 0;
  return static_cast<size_t>(n);
}

void PurgePort(PortHandle port, uint32_t set) {
  // With synchronous I/O there is nothing in flight to abort. The transmit queue is left
  // alone: the protocol purges it only after a drain or after the target has answered, so
  // a UART has nothing left in it, while a pty would lose bytes its other end has not read.
  if ((set & PURGE_RXCLEAR) != 0) Serial().PurgeReceive(port);
}

void FlushPort(PortHandle port) {
  Serial().Drain(port);
}

bool SetBaud(PortHandle port, uint32_t baud) {
  FlushPort(port);
  platform::SleepMs(kBaudSettleMs);
  PurgePort(port, PURGE_ALL);
  const bool accepted = Serial().Configure(port, baud);
  if (accepted) g_lineBaud = baud;
  uint32_t ignored = 0;
  Serial().TakeLineErrors(port, &ignored);
  PurgePort(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
  PurgePort(port, PURGE_TXABORT);
  return accepted;
}

}  // namespace gpsfw
