#include "link/serial_port.h"

#include <cwchar>

#include "link/port_loss.h"
#include "platform/clock.h"
#include "platform/line_speeds.h"
#include "platform/serial_driver.h"
#include "platform/text.h"
#include "protocol/host_timing.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "report/waiting.h"

namespace gpsfw {
namespace {

constexpr uint64_t kReadByteSpanUs = kReadAttempts * (kReadAttemptMs + kReadPauseMs) * 1000;

void Saw(const SerialLink& link, WireDirection direction, const uint8_t* bytes, size_t count) {
  Observe().OnWire(direction, bytes, count, link.baud);
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

int OpenDevice(platform::SerialDriver& driver, const wchar_t* device) {
  if (std::wcslen(device) > kMaxPortName) return -1;
  char narrow[kMaxPortName + 1];
  platform::NarrowFromWide(narrow, sizeof narrow, device);
  return driver.Open(narrow);
}

// Waits for a byte until `deadline`. A port that has gone away is waited for; one that only
// reports a hang-up gets a plain sleep, so that no retry loop can spin.
void WaitForReadable(SerialLink& link, uint64_t deadline) {
  const uint64_t now = platform::NowUs();
  if (now >= deadline) return;
  const uint64_t ms = (deadline - now + 999) / 1000;
  if (link.driver->WaitReadable(link.port, static_cast<uint32_t>(ms)) !=
      platform::WaitResult::kHungUp) {
    return;
  }
  if (link.driver->Lost(link.port)) {
    RecoverLostPort(link);
  } else {
    platform::SleepMs(ms < kReadPauseMs ? static_cast<uint32_t>(ms) : kReadPauseMs);
  }
}

// After a failed call: true when the device has gone, which has then been waited for.
bool RecoveredFromLoss(SerialLink& link) {
  if (!link.driver->Lost(link.port)) return false;
  RecoverLostPort(link);
  return true;
}

}  // namespace

bool OpenPort(SerialLink& link, platform::SerialDriver& driver, const wchar_t* device,
              uint32_t baud) {
  link = SerialLink{};
  if (!IsAcceptedBaud(baud)) {
    ReportMessage(L"Incorrect baud.", L"Error", kMessageError);
    return false;
  }
  PortHandle port = OpenDevice(driver, device);
  if (port < 0) {
    ReportMessage(L"Can not open serial port 1.", L"Error", kMessageError);
    return false;
  }
  if (!driver.Configure(port, baud)) {
    LogWide(L"SetCommState return error");
    driver.Close(port);
    return false;
  }
  link.driver = &driver;
  link.port = port;
  link.baud = baud;
  // Time-outs and the event mask have no separate step: the driver's reads carry the
  // time-outs themselves, and there are no events to wait for.
  PurgePort(link, PURGE_ALL);
  return true;
}

void ClosePort(SerialLink& link) {
  if (link.port == INVALID_PORT) return;
  link.driver->Close(link.port);
  link.port = INVALID_PORT;
}

uint32_t CheckLineErrors(SerialLink& link) {
  uint32_t flags = 0;
  if (!link.driver->TakeLineErrors(link.port, &flags) || flags == 0) return 0;
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
bool ReadByte(SerialLink& link, uint8_t& byte) {
  const uint64_t lastRead = platform::NowUs() + kReadByteSpanUs - kReadAttemptMs * 1000;
  for (uint64_t attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (PortLossPending(link)) return false;
    CheckLineErrors(link);
    WaitForReadable(link, lastRead);
    if (PortLossPending(link)) return false;
    uint8_t received = 0;
    const long n = link.driver->Read(link.port, &received, 1);
    if (n == 1) {
      Saw(link, WireDirection::kFromTarget, &received, 1);
      byte = received;
      return true;
    }
    if (n < 0 && RecoveredFromLoss(link)) return false;
    if (platform::NowUs() >= lastRead) return false;
  }
  return false;
}

bool WaitForByte(SerialLink& link, uint8_t expected) {
  const uint64_t deadline = platform::NowUs() + kWaitForByteLimitUs;
  uint8_t byte = 0;
  while (ReadByte(link, byte)) {
    if (byte == expected) return true;
    if (platform::NowUs() >= deadline) return false;
    ReportWaiting(link.waiting, "the receiver's reply", deadline - kWaitForByteLimitUs);
  }
  return false;
}

void WriteByte(SerialLink& link, uint8_t byte) {
  // A byte for a receiver that went away with its port is of no use to it any more.
  while (!PortLossPending(link)) {
    CheckLineErrors(link);
    if (link.driver->Write(link.port, &byte, 1) == 1) {
      Saw(link, WireDirection::kToTarget, &byte, 1);
      return;
    }
    if (RecoveredFromLoss(link)) return;
    platform::SleepMs(kWriteRetryMs);
  }
}

bool WriteBlock(SerialLink& link, const uint8_t* bytes, size_t length) {
  CheckLineErrors(link);
  while (length > 0 && !PortLossPending(link)) {
    const long taken = link.driver->Write(link.port, bytes, length);
    if (taken < 0) {
      if (RecoveredFromLoss(link)) break;
      platform::SleepMs(kBlockRetryMs);
      continue;
    }
    if (taken == 0) continue;
    Saw(link, WireDirection::kToTarget, bytes, static_cast<size_t>(taken));
    bytes += taken;
    length -= static_cast<size_t>(taken);
    if (length > 0) platform::SleepMs(kBlockRetryMs);
  }
  return true;
}

size_t ReadBlock(SerialLink& link, uint8_t* buffer, size_t size) {
  if (PortLossPending(link)) return 0;
  CheckLineErrors(link);
  const long n = link.driver->Read(link.port, buffer, size);
  if (n < 0) RecoveredFromLoss(link);
  if (n <= 0) return 0;
  Saw(link, WireDirection::kFromTarget, buffer, static_cast<size_t>(n));
  buffer[n] = 0;
  return static_cast<size_t>(n);
}

void PurgePort(SerialLink& link, uint32_t set) {
  // With synchronous I/O there is nothing in flight to abort. The transmit queue is left
  // alone: the protocol purges it only after a drain or after the target has answered, so
  // a UART has nothing left in it, while a pty would lose bytes its other end has not read.
  if ((set & PURGE_RXCLEAR) != 0) link.driver->PurgeReceive(link.port);
}

void FlushPort(SerialLink& link) {
  link.driver->Drain(link.port);
}

bool SetBaud(SerialLink& link, uint32_t baud) {
  FlushPort(link);
  platform::SleepMs(kBaudSettleMs);
  PurgePort(link, PURGE_ALL);
  const bool accepted = link.driver->Configure(link.port, baud);
  if (accepted) link.baud = baud;
  uint32_t ignored = 0;
  link.driver->TakeLineErrors(link.port, &ignored);
  PurgePort(link, PURGE_TXCLEAR | PURGE_RXCLEAR);
  PurgePort(link, PURGE_TXABORT);
  return accepted;
}

}  // namespace gpsfw
