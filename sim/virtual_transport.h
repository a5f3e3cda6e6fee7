#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "sim/adapter_buffer.h"
#include "sim/line.h"
#include "sim/receiver.h"
#include "sim/wire.h"

namespace gpsfw::sim {

struct VirtualTransportOptions {
  // TakeLineErrors reports kCeFrame after a byte arrived with a framing error. Off by
  // default, as on a pty.
  bool reportFramingErrors = false;
  bool logWire = true;
  // The latency timer of a USB-serial adapter between the line and the host, in ms (see
  // AdapterBuffer); 0: none, the bytes reach the host as they arrive.
  uint32_t adapterLatencyMs = 0;
};

// The loader's serial driver and clock, connected to a Receiver in virtual time. Time starts
// at 0 and moves only when the loader waits: SleepMs, a read's time-outs, WaitReadable and
// Drain; it jumps from event to event, so a whole update takes a fraction of a second.
//
// It behaves like the termios driver on a real line:
//  - Write takes every byte at once (a kernel buffer); each byte leaves 10 bit times after
//    the previous one at the rate configured when it was written, and reaches the receiver
//    when its stop bit ends. Drain waits until the last byte has left.
//  - Read takes what has arrived and goes on while the next byte follows within 1 ms, up to
//    `size` bytes; with nothing there it waits up to 1 ms + 1 ms per requested byte for the
//    first one. 0 on time-out.
//  - Bytes sent at a rate other than the one the other side listens on arrive garbled, in
//    both directions (see SampleByte); bytes the receiver sends while the port is closed are
//    lost. The receive buffer keeps the latest 4095 bytes, like a tty's.
//  - With an adapter latency, the receiver's bytes reach the host as an FTDI chip sends them
//    on: when 62 are waiting, or when its latency timer runs out. RequestLowLatency sets the
//    timer to 1 ms for the open handle, as the ftdi_sio driver does for a low-latency port;
//    each Open starts with the configured latency again. Open and Reopen make that request
//    themselves when the loader wants low latency (platform/low_latency.h), as the termios
//    driver does of a real adapter, and LowLatencyOf tells the outcome. Purging the receive side
//    clears what the host's tty holds, not what the chip still holds.
//  - The device may vanish for a while (the unplug faults of the receiver's configuration,
//    or Unplug): from that moment its handle is lost, reads, writes and waits fail at once,
//    bytes in flight are lost, and Open fails. Once it is back, Reopen brings the lost
//    handle back with the rate it had; until then it stays lost.
// Open accepts any device name, one handle at a time.
class VirtualTransport : public platform::SerialDriver, public platform::Clock {
 public:
  explicit VirtualTransport(Receiver& receiver, VirtualTransportOptions options = {});

  int Open(const char* device) override;
  void Close(int handle) override;
  bool Configure(int handle, uint32_t baud) override;
  long Read(int handle, uint8_t* buffer, size_t size) override;
  long Write(int handle, const uint8_t* data, size_t size) override;
  platform::WaitResult WaitReadable(int handle, uint32_t ms) override;
  void PurgeReceive(int handle) override;
  void Drain(int handle) override;
  bool TakeLineErrors(int handle, uint32_t* flags) override;
  bool Lost(int handle) override;
  bool Reopen(int handle) override;
  platform::LowLatency LowLatencyOf(int handle) override;

  // The host asks the adapter's driver for low latency: the chip's timer runs 1 ms (or less,
  // when the configured latency is less) from now on, for this open. True for an open
  // handle.
  bool RequestLowLatency(int handle);
  // Back to the configured latency.
  void ReleaseLowLatency(int handle);

  uint64_t NowUs() override { return line_.Now() / kNsPerUs; }
  void SleepMs(uint32_t ms) override;

  // For scripted hosts and checks.
  SimTime NowNs() const { return line_.Now(); }
  void RunUntil(SimTime t);
  // The device vanishes at `atNs` (not before now) for `forNs`; with `powerCycle` the
  // receiver is off meanwhile and starts in its application when the device comes back.
  void Unplug(SimTime atNs, SimTime forNs, bool powerCycle);
  bool Gone() const { return gone_; }
  uint32_t HostBaud() const { return baud_; }
  bool IsOpen() const { return open_; }
  std::string OpenedDevice() const { return device_; }
  size_t Pending() const { return received_.size(); }
  const std::vector<WireEvent>& Wire() const { return line_.Wire(); }
  Receiver& GetReceiver() { return line_.GetReceiver(); }

 private:
  struct Transition {
    bool vanishes;  // false: comes back
    bool powerCycle;
  };

  bool Valid(int handle) const { return open_ && handle == kHandle; }
  bool Usable(int handle) const { return Valid(handle) && !lost_; }
  SimTime NextTransitionNs() const;
  void Apply(const Transition& transition);
  void AdvanceLine(SimTime t);
  void Receive(const HostByte& byte);
  SimTime ConfiguredLatencyNs() const { return MsToNs(options_.adapterLatencyMs); }
  void AskForLowLatency();
  // Advances to the next event, or to `deadline` when none comes before it. False when the
  // deadline was reached.
  bool Step(SimTime deadline);
  // Runs until a byte is waiting for the host or `deadline` passes. True when one is.
  bool WaitForByte(SimTime deadline);
  void Advance(SimTime t);

  static constexpr int kHandle = 3;

  Line line_;
  VirtualTransportOptions options_;
  bool open_ = false;
  std::string device_;
  uint32_t baud_ = 9600;
  std::deque<HostByte> received_;
  std::vector<HostByte> scratch_;
  AdapterBuffer adapter_;
  std::vector<HostByte> released_;
  bool framingErrorSeen_ = false;
  bool gone_ = false;
  bool lost_ = false;  // the open handle lost its device and was not reopened yet
  std::multimap<SimTime, Transition> transitions_;
  // The outcome of the loader's request for low latency at the latest Open or Reopen.
  platform::LowLatency lowLatency_ = platform::LowLatency::kNotAsked;
};

// Installs a transport as the process-wide serial driver and clock, and brings back the
// termios driver and the system clock when it goes out of scope.
class ScopedVirtualTransport {
 public:
  explicit ScopedVirtualTransport(VirtualTransport& transport);
  ~ScopedVirtualTransport();
  ScopedVirtualTransport(const ScopedVirtualTransport&) = delete;
  ScopedVirtualTransport& operator=(const ScopedVirtualTransport&) = delete;
};

}  // namespace gpsfw::sim
