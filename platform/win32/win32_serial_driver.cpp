#include "platform/win32/win32_serial_driver.h"

#include <algorithm>

#include "platform/host_serial_driver.h"
#include "platform/win32/win32_line_settings.h"

// How Wine's serial emulation on a Unix tty differs from Windows, seen under Wine 8: the read
// time-outs are timed by Wine itself (close to the values set, but not to the tick),
// PurgeComm maps to tcflush() and cannot abort a read, ClearCommError reports no line errors
// and never CE_TXFULL (the tty gives no such counts), and a tty whose other end went away
// reads as silence instead of failing. The driver is written for Windows: it relies on none
// of these differences.

namespace gpsfw::platform {
namespace {

// A read never asks for more at once: 1 ms per requested byte must stay a short wait.
constexpr DWORD kMaxReadBytes = 4096;
// The pause between two looks at the receive queue while waiting for a byte.
constexpr DWORD kWaitSliceMs = 1;
// Bits of one byte on the line: start, eight data bits, stop.
constexpr uint64_t kBitsPerByte = 10;
// What a speed change waits beyond the line time of the bytes last written: the stop bit of
// the last byte, the system timer's granularity, a USB adapter's transfer scheduling.
constexpr uint64_t kLineIdleMarginMs = 2;

// How long `bytes` take on the line at `baud`, rounded up.
uint64_t LineTimeMs(DWORD bytes, DWORD baud) {
  return (kBitsPerByte * bytes * 1000 + baud - 1) / baud;
}

DWORD Clamp(size_t size, DWORD limit) {
  return size < limit ? static_cast<DWORD>(size) : limit;
}

}  // namespace

Win32Driver::~Win32Driver() {
  for (int handle = 0; handle < kMaxOpenPorts; ++handle) Close(handle);
}

int Win32Driver::Open(const char* device) {
  for (int handle = 0; handle < kMaxOpenPorts; ++handle) {
    Port& port = ports_[handle];
    if (port.inUse) continue;
    wchar_t path[kDevicePathCapacity];
    // Device names are 8-bit text in the ANSI code page, as the command line gave them; one
    // too long to convert whole is refused, as a cut name is another device.
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, device, -1, path,
                              static_cast<int>(kDevicePathCapacity)) == 0) {
      return -1;
    }
    const HANDLE opened = OpenDevice(path);
    if (opened == INVALID_HANDLE_VALUE) return -1;
    port = Port{};
    std::copy(path, path + kDevicePathCapacity, port.path);
    port.inUse = true;
    port.device = opened;
    api_.HoldFineTimer(true);
    return handle;
  }
  return -1;
}

void Win32Driver::Close(int handle) {
  Port* port = Find(handle);
  if (port == nullptr) return;
  CloseDevice(*port);
  api_.HoldFineTimer(false);
  *port = Port{};
}

bool Win32Driver::Configure(int handle, uint32_t baud) {
  Port* port = Usable(handle);
  if (port == nullptr) return false;
  DCB state{};
  state.DCBlength = sizeof state;
  // A failed read leaves the fields that are not set below as zero, which is what they
  // should be anyway.
  (void)api_.GetState(port->device, &state);
  ApplyLineSettings(&state, baud);
  WaitForLineIdle(*port);
  if (!api_.SetState(port->device, &state)) {
    NoteFailure(*port);
    return false;
  }
  port->state = state;
  port->stateKnown = true;
  return port->prepared || Prepare(*port);
}

long Win32Driver::Read(int handle, uint8_t* buffer, size_t size) {
  Port* port = Usable(handle);
  if (port == nullptr) return -1;
  if (size == 0) return 0;
  DWORD got = 0;
  if (!api_.Read(port->device, buffer, Clamp(size, kMaxReadBytes), &got)) {
    NoteFailure(*port);
    return -1;
  }
  return static_cast<long>(got);
}

long Win32Driver::Write(int handle, const uint8_t* data, size_t size) {
  Port* port = Usable(handle);
  if (port == nullptr) return -1;
  DWORD put = 0;
  const BOOL written = api_.Write(port->device, data, Clamp(size, MAXDWORD), &put);
  NoteWritten(*port, put);
  if (!written) {
    NoteFailure(*port);
    return put > 0 ? static_cast<long>(put) : -1;
  }
  return static_cast<long>(put);
}

WaitResult Win32Driver::WaitReadable(int handle, uint32_t ms) {
  Port* port = Usable(handle);
  if (port == nullptr) return WaitResult::kHungUp;
  // A synchronous handle has no wait with a time-out: WaitCommEvent would block until a
  // byte came. The receive queue is looked at instead, a millisecond apart.
  const uint64_t deadline = api_.NowMs() + ms;
  for (;;) {
    COMSTAT status{};
    if (!Query(*port, &status)) {
      if (port->lost) return WaitResult::kHungUp;
      // A query that fails for another reason must not turn the wait into a spin.
      api_.Sleep(ms);
      return WaitResult::kTimeout;
    }
    if (status.cbInQue > 0) return WaitResult::kReadable;
    if (api_.NowMs() >= deadline) return WaitResult::kTimeout;
    api_.Sleep(kWaitSliceMs);
  }
}

void Win32Driver::PurgeReceive(int handle) {
  Port* port = Usable(handle);
  if (port != nullptr && !api_.Purge(port->device, PURGE_RXABORT | PURGE_RXCLEAR)) {
    NoteFailure(*port);
  }
}

void Win32Driver::Drain(int handle) {
  Port* port = Usable(handle);
  if (port != nullptr && !api_.Flush(port->device)) NoteFailure(*port);
}

bool Win32Driver::TakeLineErrors(int handle, uint32_t* flags) {
  Port* port = Usable(handle);
  if (port == nullptr) return false;
  COMSTAT status{};
  if (!Query(*port, &status)) return false;
  // Windows' CE_* values are the loader's own, CE_TXFULL included; the word goes on whole.
  *flags = port->pendingErrors;
  port->pendingErrors = 0;
  return true;
}

bool Win32Driver::Lost(int handle) {
  const Port* port = Find(handle);
  return port != nullptr && port->lost;
}

bool Win32Driver::Reopen(int handle) {
  Port* port = Find(handle);
  if (port == nullptr) return false;
  CloseDevice(*port);
  port->lost = true;
  port->prepared = false;
  port->pendingErrors = 0;
  port->written = false;  // what was queued left with the old device
  const HANDLE opened = OpenDevice(port->path);
  if (opened == INVALID_HANDLE_VALUE) return false;
  port->device = opened;
  port->lost = false;
  if (port->stateKnown && !api_.SetState(port->device, &port->state)) {
    CloseDevice(*port);
    port->lost = true;
    return false;
  }
  if (Prepare(*port)) return true;
  CloseDevice(*port);
  port->lost = true;
  return false;
}

Win32Driver::Port* Win32Driver::Find(int handle) {
  if (handle < 0 || handle >= kMaxOpenPorts || !ports_[handle].inUse) return nullptr;
  return &ports_[handle];
}

Win32Driver::Port* Win32Driver::Usable(int handle) {
  Port* port = Find(handle);
  return port != nullptr && !port->lost ? port : nullptr;
}

HANDLE Win32Driver::OpenDevice(const wchar_t* path) {
  // Share mode 0 keeps every other program, a second loader too, off the port.
  return api_.Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
}

bool Win32Driver::Prepare(Port& port) {
  COMMTIMEOUTS timeouts = LoaderTimeouts();
  // Without its time-outs a read would wait for as many bytes as it asks for, however long.
  if (!api_.SetTimeouts(port.device, &timeouts) || !api_.SetMask(port.device, EV_RXCHAR)) {
    NoteFailure(port);
    return false;
  }
  (void)api_.Purge(port.device, kPurgeAllActions);
  port.prepared = true;
  return true;
}

// A synchronous write returns once the driver has handed its bytes on: to the UART's FIFO,
// or to a USB transfer into the adapter's buffer. They leave the wire only at the line's
// rate after that, from when the line was free; the moment the last of them has left is kept
// for a speed change.
void Win32Driver::NoteWritten(Port& port, DWORD bytes) {
  if (bytes == 0 || !port.stateKnown || port.state.BaudRate == 0) return;
  const uint64_t now = api_.NowMs();
  const uint64_t start = port.lineIdleAtMs > now ? port.lineIdleAtMs : now;
  port.lineIdleAtMs = start + LineTimeMs(bytes, port.state.BaudRate);
  port.written = true;
}

// FlushFileBuffers returns as soon as the driver has handed the bytes on, and SetCommState
// changes the rate at once: bytes still in the FIFO or the adapter would leave at the new
// rate, as garbage to the receiver. The change waits until the last byte written is out.
void Win32Driver::WaitForLineIdle(Port& port) {
  if (!port.written) return;
  const uint64_t idle = port.lineIdleAtMs + kLineIdleMarginMs;
  const uint64_t now = api_.NowMs();
  if (now < idle) api_.Sleep(static_cast<DWORD>(idle - now));
  port.written = false;
}

bool Win32Driver::Query(Port& port, COMSTAT* status) {
  DWORD errors = 0;
  if (!api_.ClearError(port.device, &errors, status)) {
    NoteFailure(port);
    return false;
  }
  // ClearCommError clears as it reports: errors seen while waiting are kept for the caller.
  port.pendingErrors |= errors;
  return true;
}

void Win32Driver::NoteFailure(Port& port) {
  if (!IsRemovedDeviceError(api_.LastError())) return;
  // The dead handle is closed at once: while it stays open Windows keeps the removed device,
  // and an adapter plugged in again could not take its old port name.
  CloseDevice(port);
  port.lost = true;
}

void Win32Driver::CloseDevice(Port& port) {
  if (port.device != INVALID_HANDLE_VALUE) api_.Close(port.device);
  port.device = INVALID_HANDLE_VALUE;
}

SerialDriver& Win32SerialDriver() {
  static Win32Driver driver(SystemCommApi());
  return driver;
}

SerialDriver& HostSerialDriver() {
  return Win32SerialDriver();
}

}  // namespace gpsfw::platform
