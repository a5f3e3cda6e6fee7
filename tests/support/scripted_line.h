#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_driver.h"

namespace gpsfw::test {

// A serial driver and clock in virtual time with a scripted counterpart: the test decides
// what arrives when, and the line records everything the host did.
class ScriptedLine : public platform::SerialDriver, public platform::Clock {
 public:
  struct Written {
    uint64_t timeUs;
    uint8_t byte;
    uint32_t baud;
  };

  ScriptedLine();
  ~ScriptedLine() override;

  // Called for every byte the host writes, at the time it is written.
  std::function<void(uint8_t)> onHostByte;

  // Schedules bytes to arrive `delayMs` from now, one after another without a gap.
  void Arrive(const std::vector<uint8_t>& bytes, uint32_t delayMs = 0);
  void ArriveAt(uint64_t timeUs, uint8_t byte);
  void QueueLineErrors(uint32_t flags) { lineErrors_.push_back(flags); }

  // Thrown from a sleep or a wait once virtual time passes `stopAtUs`: ends a run of the
  // loader that would otherwise go on for ever.
  struct Stop {};
  uint64_t stopAtUs = UINT64_MAX;

  bool failOpen = false;
  bool failConfigure = false;
  bool hungUp = false;
  // The device went away and does not come back (an adapter pulled out): reads, writes and
  // waits fail, and a reopen finds nothing.
  bool gone = false;
  size_t maxPerWrite = SIZE_MAX;

  std::vector<Written> written;
  std::vector<uint32_t> sleeps;
  std::vector<uint32_t> configured;
  int readCalls = 0;
  int purges = 0;
  int drains = 0;
  std::string openedDevice;

  std::vector<uint8_t> WrittenBytes() const;
  uint64_t now() const { return nowUs_; }

  // platform::SerialDriver
  int Open(const char* device) override;
  void Close(int handle) override;
  bool Configure(int handle, uint32_t baud) override;
  long Read(int handle, uint8_t* buffer, size_t size) override;
  long Write(int handle, const uint8_t* data, size_t size) override;
  platform::WaitResult WaitReadable(int handle, uint32_t ms) override;
  void PurgeReceive(int handle) override;
  void Drain(int handle) override;
  bool TakeLineErrors(int handle, uint32_t* flags) override;
  bool Lost(int) override { return gone; }
  bool Reopen(int) override { return !gone; }

  // platform::Clock
  uint64_t NowUs() override { return nowUs_; }
  void SleepMs(uint32_t ms) override;

 private:
  struct Arrival {
    uint64_t timeUs;
    uint8_t byte;
  };
  bool ArrivedBy(uint64_t timeUs) const;
  void CheckStop() const;
  uint8_t Take();

  uint64_t nowUs_ = 0;
  uint32_t baud_ = 0;
  std::deque<Arrival> arrivals_;
  std::deque<uint32_t> lineErrors_;
};

}  // namespace gpsfw::test
