#pragma once

#include <windows.h>

#include <cstdint>

namespace gpsfw::platform {

// The Win32 calls the serial driver makes, each passed through unchanged, so that tests can
// stand in for a port device and see every argument.
class CommApi {
 public:
  virtual ~CommApi() = default;
  virtual HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags) = 0;
  virtual void Close(HANDLE port) = 0;
  virtual BOOL GetState(HANDLE port, DCB* state) = 0;
  virtual BOOL SetState(HANDLE port, DCB* state) = 0;
  virtual BOOL SetTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) = 0;
  virtual BOOL SetMask(HANDLE port, DWORD events) = 0;
  virtual BOOL Purge(HANDLE port, DWORD actions) = 0;
  virtual BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status) = 0;
  virtual BOOL Read(HANDLE port, void* buffer, DWORD size, DWORD* got) = 0;
  virtual BOOL Write(HANDLE port, const void* data, DWORD size, DWORD* put) = 0;
  virtual BOOL Flush(HANDLE port) = 0;
  virtual DWORD LastError() = 0;
  virtual void Sleep(DWORD ms) = 0;
  // A monotonic clock in milliseconds.
  virtual uint64_t NowMs() = 0;
  // Keeps the system timer at 1 ms while a port is open (true), or lets it go (false).
  virtual void HoldFineTimer(bool hold) = 0;
};

// The real calls.
CommApi& SystemCommApi();

}  // namespace gpsfw::platform
