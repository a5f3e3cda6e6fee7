#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw::platform {

// ASYNC_LOW_LATENCY among a tty's serial flags. A USB adapter with a latency timer (FTDI)
// holds received bytes until the timer runs out, 16 ms by default; with this flag the
// driver runs the timer at 1 ms. The protocol turns the line around three times per record,
// so every turn would otherwise wait for the timer.
inline constexpr uint32_t kAsyncLowLatency = 1U << 13;

// The two requests that read and write a tty's serial flags (TIOCGSERIAL, TIOCSSERIAL), so
// that tests can stand in for a tty driver and see every request.
class SerialFlagsIo {
 public:
  virtual ~SerialFlagsIo() = default;
  // False when the driver has no serial flags or refuses.
  virtual bool GetFlags(int fd, uint32_t* flags) = 0;
  virtual bool SetFlags(int fd, uint32_t flags) = 0;
};

// The real ioctls; on a host without them every request is refused.
SerialFlagsIo& SystemSerialFlagsIo();

// Whether the serial driver asks for low latency when it opens a port: yes unless switched
// off (the loader's --no-low-latency, which leaves the port as it is). Read at every open.
void SetLowLatencyWanted(bool wanted);
bool LowLatencyWanted();

enum class LowLatency : uint8_t {
  kNotAsked,  // switched off, or a driver that has no such thing
  kOn,        // in effect: set by the loader, or on already
  kRefused,   // the tty driver does not take it, now or at an earlier open of the port
};

// One open port's low latency, from its open to its close.
struct LowLatencyState {
  LowLatency status = LowLatency::kNotAsked;
  bool setByLoader = false;  // the flags before the request are to be put back
  uint32_t savedFlags = 0;
};

// Asks tty drivers for low latency and puts their flags back. A port whose driver refused
// (a pty, most drivers other than FTDI's) is not asked again while the process runs; ports
// are told apart by their device numbers. Nothing is logged: a refusal is the normal answer
// of most ports.
class LowLatencyRequests {
 public:
  explicit LowLatencyRequests(SerialFlagsIo& io) : io_(io) {}

  // At an open or a reopen of `fd`, the tty with device number `device`.
  void Request(int fd, uint64_t device, bool wanted, LowLatencyState* state);
  // At the close: the flags the port had before the request, when the request changed them.
  void Restore(int fd, LowLatencyState* state);

 private:
  static constexpr size_t kRememberedPorts = 16;

  bool RefusedBefore(uint64_t device) const;
  void NoteRefused(uint64_t device);

  SerialFlagsIo& io_;
  uint64_t refused_[kRememberedPorts] = {};
  size_t refusedCount_ = 0;
  size_t nextForgotten_ = 0;  // the oldest entry, replaced once the table is full
};

}  // namespace gpsfw::platform
