#include "platform/win32/win32_comm_api.h"

#include <mmsystem.h>

#include <chrono>

namespace gpsfw::platform {
namespace {

class SystemApi final : public CommApi {
 public:
  HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
              DWORD flags) override {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
  }
  void Close(HANDLE port) override { ::CloseHandle(port); }
  BOOL GetState(HANDLE port, DCB* state) override { return ::GetCommState(port, state); }
  BOOL SetState(HANDLE port, DCB* state) override { return ::SetCommState(port, state); }
  BOOL SetTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) override {
    return ::SetCommTimeouts(port, timeouts);
  }
  BOOL SetMask(HANDLE port, DWORD events) override { return ::SetCommMask(port, events); }
  BOOL Purge(HANDLE port, DWORD actions) override { return ::PurgeComm(port, actions); }
  BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status) override {
    return ::ClearCommError(port, errors, status);
  }
  BOOL Read(HANDLE port, void* buffer, DWORD size, DWORD* got) override {
    return ::ReadFile(port, buffer, size, got, nullptr);
  }
  BOOL Write(HANDLE port, const void* data, DWORD size, DWORD* put) override {
    return ::WriteFile(port, data, size, put, nullptr);
  }
  BOOL Flush(HANDLE port) override { return ::FlushFileBuffers(port); }
  DWORD LastError() override { return ::GetLastError(); }
  void Sleep(DWORD ms) override { ::Sleep(ms); }
  uint64_t NowMs() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
  // The default tick of about 15.6 ms would stretch every 1 ms read time-out and every
  // pause between polls to a whole tick.
  void HoldFineTimer(bool hold) override {
    if (hold) {
      ::timeBeginPeriod(1);
    } else {
      ::timeEndPeriod(1);
    }
  }
};

}  // namespace

CommApi& SystemCommApi() {
  static SystemApi api;
  return api;
}

}  // namespace gpsfw::platform
