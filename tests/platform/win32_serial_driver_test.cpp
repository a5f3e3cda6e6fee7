#include "platform/win32/win32_serial_driver.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/win32_line_settings.h"

namespace gpsfw::platform {
namespace {

// A port device in memory: records every call with its arguments, and fails the calls the
// test asks it to fail with the error the test gives.
class FakeComm final : public CommApi {
 public:
  HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
              DWORD flags) override {
    char line[160];
    std::snprintf(line, sizeof line, "Open %ls access=%lX share=%lu disposition=%lu flags=%lu",
                  path, access, share, disposition, flags);
    calls.push_back(line);
    if (!present) {
      error = ERROR_FILE_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
    ++openDevices;
    return kDevice;
  }
  void Close(HANDLE) override {
    calls.push_back("Close");
    --openDevices;
  }
  BOOL GetState(HANDLE, DCB* state) override {
    *state = deviceState;
    return TRUE;
  }
  BOOL SetState(HANDLE, DCB* state) override {
    calls.push_back("SetState " + std::to_string(state->BaudRate));
    if (refuseState) return Fail(ERROR_INVALID_PARAMETER);
    deviceState = *state;
    return TRUE;
  }
  BOOL SetTimeouts(HANDLE, COMMTIMEOUTS* t) override {
    char line[80];
    std::snprintf(line, sizeof line, "SetTimeouts %lu %lu %lu %lu %lu", t->ReadIntervalTimeout,
                  t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant,
                  t->WriteTotalTimeoutMultiplier, t->WriteTotalTimeoutConstant);
    calls.push_back(line);
    if (refuseTimeouts) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
  }
  BOOL SetMask(HANDLE, DWORD events) override {
    calls.push_back("SetMask " + std::to_string(events));
    return TRUE;
  }
  BOOL Purge(HANDLE, DWORD actions) override {
    calls.push_back("Purge " + std::to_string(actions));
    return TRUE;
  }
  BOOL ClearError(HANDLE, DWORD* errors, COMSTAT* status) override {
    ++queries;
    if (failWith != 0) return Fail(failWith);
    *errors = pendingErrors;
    pendingErrors = 0;
    status->cbInQue = static_cast<DWORD>(input.size());
    return TRUE;
  }
  BOOL Read(HANDLE, void* buffer, DWORD size, DWORD* got) override {
    calls.push_back("Read " + std::to_string(size));
    if (failWith != 0) return Fail(failWith);
    *got = static_cast<DWORD>(std::min<size_t>(size, input.size()));
    std::memcpy(buffer, input.data(), *got);
    input.erase(0, *got);
    return TRUE;
  }
  BOOL Write(HANDLE, const void* data, DWORD size, DWORD* put) override {
    if (failWith != 0) return Fail(failWith);
    output.append(static_cast<const char*>(data), size);
    *put = size;
    return TRUE;
  }
  BOOL Flush(HANDLE) override {
    calls.push_back("Flush");
    return TRUE;
  }
  DWORD LastError() override { return error; }
  void Sleep(DWORD ms) override {
    ++sleeps;
    nowMs += ms;
  }
  uint64_t NowMs() override { return nowMs; }
  void HoldFineTimer(bool hold) override { timerHolds += hold ? 1 : -1; }

  // The device's flag word: the 32 bits behind BaudRate.
  static uint32_t FlagWord(const DCB& state) {
    uint32_t word = 0;
    std::memcpy(&word, reinterpret_cast<const char*>(&state.BaudRate) + sizeof state.BaudRate,
                sizeof word);
    return word;
  }

  static inline const HANDLE kDevice = reinterpret_cast<HANDLE>(0x1234);
  std::vector<std::string> calls;
  DCB deviceState = AllFlagsSet();
  bool present = true;
  bool refuseState = false;
  bool refuseTimeouts = false;
  DWORD failWith = 0;  // the error of every failing call; 0: nothing fails
  DWORD pendingErrors = 0;
  std::string input;
  std::string output;
  DWORD error = 0;
  int openDevices = 0;
  int queries = 0;
  int sleeps = 0;
  int timerHolds = 0;
  uint64_t nowMs = 0;

 private:
  BOOL Fail(DWORD code) {
    error = code;
    return FALSE;
  }
  static DCB AllFlagsSet() {
    DCB state{};
    state.DCBlength = sizeof state;
    const uint32_t allOnes = 0xFFFFFFFF;
    std::memcpy(reinterpret_cast<char*>(&state.BaudRate) + sizeof state.BaudRate, &allOnes,
                sizeof allOnes);
    return state;
  }
};

class Win32DriverTest : public ::testing::Test {
 protected:
  int OpenConfigured() {
    const int handle = driver_.Open("\\\\.\\COM3");
    EXPECT_GE(handle, 0);
    EXPECT_TRUE(driver_.Configure(handle, 57600));
    comm_.calls.clear();
    return handle;
  }

  FakeComm comm_;
  Win32Driver driver_{comm_};
};

TEST_F(Win32DriverTest, OpensExclusivelyAndSetsTheLineAsTheReceiverNeedsIt) {
  const int handle = driver_.Open("\\\\.\\COM3");
  ASSERT_GE(handle, 0);
  ASSERT_TRUE(driver_.Configure(handle, 57600));
  const std::vector<std::string> expected = {
      "Open \\\\.\\COM3 access=C0000000 share=0 disposition=3 flags=0",
      "SetState 57600",
      "SetTimeouts 1 1 1 0 0",
      "SetMask 1",
      "Purge 15",
  };
  EXPECT_EQ(comm_.calls, expected);
  const DCB& state = comm_.deviceState;
  EXPECT_EQ(state.ByteSize, 8);
  EXPECT_EQ(state.Parity, NOPARITY);
  EXPECT_EQ(state.StopBits, ONESTOPBIT);
  // Lower 15 bits: binary mode and continue-after-XOFF; the upper 17 stay as they were.
  EXPECT_EQ(FakeComm::FlagWord(state), 0xFFFF8081u);

  // A new rate changes the state only: time-outs and mask hold for the open device.
  comm_.calls.clear();
  ASSERT_TRUE(driver_.Configure(handle, 115200));
  EXPECT_EQ(comm_.calls, std::vector<std::string>{"SetState 115200"});
  EXPECT_EQ(comm_.deviceState.BaudRate, 115200u);
}

TEST_F(Win32DriverTest, RefusedSettingsKeepThePreviousRate) {
  const int handle = OpenConfigured();
  comm_.refuseState = true;
  EXPECT_FALSE(driver_.Configure(handle, 14400));
  EXPECT_EQ(comm_.deviceState.BaudRate, 57600u);
  EXPECT_FALSE(driver_.Lost(handle));
}

TEST_F(Win32DriverTest, RefusedTimeOutsFailTheConfiguration) {
  comm_.refuseTimeouts = true;
  const int handle = driver_.Open("\\\\.\\COM3");
  EXPECT_FALSE(driver_.Configure(handle, 57600));
  comm_.refuseTimeouts = false;
  EXPECT_TRUE(driver_.Configure(handle, 57600));
}

TEST_F(Win32DriverTest, ASpeedChangeWaitsUntilTheLastByteWrittenHasLeftTheWire) {
  const int handle = driver_.Open("\\\\.\\COM3");
  ASSERT_TRUE(driver_.Configure(handle, 4800));
  EXPECT_EQ(comm_.nowMs, 0u) << "nothing written: no wait";
  const uint8_t wake[48] = {};  // 100 ms at 4800 baud
  ASSERT_EQ(driver_.Write(handle, wake, 24), 24);
  comm_.nowMs += 10;
  ASSERT_EQ(driver_.Write(handle, wake, 24), 24);  // queued behind the first
  driver_.Drain(handle);                           // returns before the bytes are out
  ASSERT_TRUE(driver_.Configure(handle, 19200));
  EXPECT_EQ(comm_.nowMs, 102u) << "line time of both writes and the margin";

  ASSERT_TRUE(driver_.Configure(handle, 57600));
  EXPECT_EQ(comm_.nowMs, 102u) << "nothing written since";
  ASSERT_EQ(driver_.Write(handle, wake, 1), 1);
  comm_.nowMs += 50;  // long gone
  ASSERT_TRUE(driver_.Configure(handle, 4800));
  EXPECT_EQ(comm_.nowMs, 152u);
}

TEST_F(Win32DriverTest, OpenFailsForMissingDevicesAndBadHandlesFailEverything) {
  comm_.present = false;
  EXPECT_EQ(driver_.Open("\\\\.\\COM9"), -1);
  EXPECT_EQ(comm_.timerHolds, 0);
  uint8_t byte = 0;
  uint32_t flags = 0;
  for (int handle : {-1, 0, 7, 8, 1000}) {
    EXPECT_FALSE(driver_.Configure(handle, 57600)) << handle;
    EXPECT_EQ(driver_.Read(handle, &byte, 1), -1) << handle;
    EXPECT_EQ(driver_.Write(handle, &byte, 1), -1) << handle;
    EXPECT_EQ(driver_.WaitReadable(handle, 100), WaitResult::kHungUp) << handle;
    EXPECT_FALSE(driver_.TakeLineErrors(handle, &flags)) << handle;
    driver_.Close(handle);
  }
}

TEST_F(Win32DriverTest, HandlesAreTableIndexesAndTheTableIsBounded) {
  std::vector<int> handles;
  for (int i = 0; i < Win32Driver::kMaxOpenPorts; ++i) handles.push_back(driver_.Open("COM1"));
  for (int i = 0; i < Win32Driver::kMaxOpenPorts; ++i) EXPECT_EQ(handles[i], i);
  EXPECT_EQ(driver_.Open("COM1"), -1);
  EXPECT_EQ(comm_.timerHolds, Win32Driver::kMaxOpenPorts);
  driver_.Close(3);
  driver_.Close(3);  // a second close does nothing
  EXPECT_EQ(comm_.openDevices, Win32Driver::kMaxOpenPorts - 1);
  EXPECT_EQ(driver_.Open("COM1"), 3);
}

TEST_F(Win32DriverTest, LineErrorsPassAsTheirWordAlsoWhenTakenWhileWaiting) {
  const int handle = OpenConfigured();
  uint32_t flags = 0;
  comm_.pendingErrors = CE_FRAME | CE_TXFULL;
  ASSERT_TRUE(driver_.TakeLineErrors(handle, &flags));
  EXPECT_EQ(flags, kCeFrame | kCeTxFull);

  // The wait's own queries clear the device's errors; they reach the next take all the same.
  comm_.pendingErrors = CE_OVERRUN | CE_BREAK;
  EXPECT_EQ(driver_.WaitReadable(handle, 5), WaitResult::kTimeout);
  ASSERT_TRUE(driver_.TakeLineErrors(handle, &flags));
  EXPECT_EQ(flags, kCeOverrun | kCeBreak);
  ASSERT_TRUE(driver_.TakeLineErrors(handle, &flags));
  EXPECT_EQ(flags, 0u);
}

TEST_F(Win32DriverTest, WaitLooksAtTheQueueAMillisecondApart) {
  const int handle = OpenConfigured();
  EXPECT_EQ(driver_.WaitReadable(handle, 100), WaitResult::kTimeout);
  EXPECT_GE(comm_.nowMs, 100u);
  EXPECT_LE(comm_.sleeps, 101);
  comm_.input = "U";
  const int sleepsBefore = comm_.sleeps;
  EXPECT_EQ(driver_.WaitReadable(handle, 100), WaitResult::kReadable);
  EXPECT_EQ(comm_.sleeps, sleepsBefore);

  uint8_t buffer[8];
  EXPECT_EQ(driver_.Read(handle, buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], 'U');
  EXPECT_EQ(driver_.Read(handle, buffer, sizeof buffer), 0);
  EXPECT_EQ(comm_.calls.back(), "Read 8");
}

TEST_F(Win32DriverTest, ARemovedDeviceIsLostAndFailsAtOnceUntilReopened) {
  const DWORD kRemoved[] = {ERROR_ACCESS_DENIED,        ERROR_BAD_COMMAND,
                            ERROR_GEN_FAILURE,          ERROR_OPERATION_ABORTED,
                            ERROR_DEVICE_NOT_CONNECTED, 1617 /* ERROR_DEVICE_REMOVED */};
  for (DWORD code : kRemoved) {
    FakeComm comm;
    Win32Driver driver(comm);
    const int handle = driver.Open("\\\\.\\COM3");
    ASSERT_TRUE(driver.Configure(handle, 115200));
    comm.failWith = code;
    uint8_t byte = 0;
    EXPECT_EQ(driver.Read(handle, &byte, 1), -1) << code;
    EXPECT_TRUE(driver.Lost(handle)) << code;
    EXPECT_EQ(comm.openDevices, 0) << "the dead handle is closed at once, " << code;

    const int queries = comm.queries;
    EXPECT_EQ(driver.Read(handle, &byte, 1), -1);
    EXPECT_EQ(driver.Write(handle, &byte, 1), -1);
    EXPECT_EQ(driver.WaitReadable(handle, 1000), WaitResult::kHungUp);
    EXPECT_EQ(comm.queries, queries) << "no call reaches a lost device";
    EXPECT_EQ(comm.nowMs, 0u) << "no wait on a lost device";

    comm.failWith = 0;
    comm.present = false;
    EXPECT_FALSE(driver.Reopen(handle)) << code;
    EXPECT_TRUE(driver.Lost(handle));

    comm.present = true;
    comm.deviceState.BaudRate = 9600;  // a new adapter comes up at its own default
    comm.calls.clear();
    ASSERT_TRUE(driver.Reopen(handle)) << code;
    EXPECT_FALSE(driver.Lost(handle));
    const std::vector<std::string> expected = {
        "Open \\\\.\\COM3 access=C0000000 share=0 disposition=3 flags=0",
        "SetState 115200",
        "SetTimeouts 1 1 1 0 0",
        "SetMask 1",
        "Purge 15",
    };
    EXPECT_EQ(comm.calls, expected) << code;
    EXPECT_EQ(FakeComm::FlagWord(comm.deviceState) & 0x7FFF, 0x0081u);
    comm.input = "w";
    EXPECT_EQ(driver.Read(handle, &byte, 1), 1);
    driver.Close(handle);
    EXPECT_EQ(comm.timerHolds, 0);
  }
}

TEST_F(Win32DriverTest, OtherFailuresAreNotALostDevice) {
  const int handle = OpenConfigured();
  comm_.failWith = ERROR_INVALID_PARAMETER;
  uint8_t byte = 0;
  uint32_t flags = 0;
  EXPECT_EQ(driver_.Read(handle, &byte, 1), -1);
  EXPECT_FALSE(driver_.TakeLineErrors(handle, &flags));
  // A failing query ends the wait as a time-out after the whole wait, never as a spin.
  EXPECT_EQ(driver_.WaitReadable(handle, 100), WaitResult::kTimeout);
  EXPECT_EQ(comm_.nowMs, 100u);
  EXPECT_FALSE(driver_.Lost(handle));
}

TEST(Win32SystemDriver, RefusesAPortThatDoesNotExist) {
  EXPECT_EQ(Win32SerialDriver().Open("\\\\.\\COM199"), -1);
  EXPECT_EQ(Win32SerialDriver().Open("Z:\\no\\such\\device"), -1);
}

}  // namespace
}  // namespace gpsfw::platform
