#pragma once

#include <windows.h>

#include "platform/serial_driver.h"
#include "platform/win32/win32_comm_api.h"

namespace gpsfw::platform {

// The serial driver of Windows: a port device opened exclusively with CreateFile, configured
// with SetCommState and SetCommTimeouts, read and written synchronously, its line errors
// taken with ClearCommError. Handles are indexes into a table of open devices.
class Win32Driver final : public SerialDriver {
 public:
  explicit Win32Driver(CommApi& api) : api_(api) {}
  ~Win32Driver() override;
  Win32Driver(const Win32Driver&) = delete;
  Win32Driver& operator=(const Win32Driver&) = delete;

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

  // The loader holds one port; a few slots leave room for tests.
  static constexpr int kMaxOpenPorts = 8;
  // Longest device path, in wide characters with the terminator.
  static constexpr size_t kDevicePathCapacity = 1024;

 private:
  struct Port {
    bool inUse = false;
    HANDLE device = INVALID_HANDLE_VALUE;  // closed once the device is lost
    bool lost = false;
    bool prepared = false;  // time-outs and event mask applied since the device was opened
    bool stateKnown = false;
    DCB state{};                // the settings last applied, for a reopen
    DWORD pendingErrors = 0;    // line errors taken while waiting, not yet reported
    bool written = false;       // bytes went out since the last speed change
    uint64_t lineIdleAtMs = 0;  // when the last of them has left the wire (NowMs)
    wchar_t path[kDevicePathCapacity] = {};
  };

  Port* Find(int handle);
  Port* Usable(int handle);
  HANDLE OpenDevice(const wchar_t* path);
  bool Prepare(Port& port);
  void NoteWritten(Port& port, DWORD bytes);
  void WaitForLineIdle(Port& port);
  bool Query(Port& port, COMSTAT* status);
  void NoteFailure(Port& port);
  void CloseDevice(Port& port);

  CommApi& api_;
  Port ports_[kMaxOpenPorts];
};

// The process-wide driver on the real API.
SerialDriver& Win32SerialDriver();

}  // namespace gpsfw::platform
