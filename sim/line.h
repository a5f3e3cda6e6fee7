#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/receiver.h"
#include "sim/sim_time.h"
#include "sim/wire.h"

namespace gpsfw::sim {

// A byte as the host's UART takes it. A byte with a framing error reads as 0x00, as it does
// from a Linux tty in raw mode.
struct HostByte {
  uint8_t value = 0;
  SimTime arrivalNs = 0;
  bool garbled = false;
  bool framingError = false;
};

// The serial line between the host and the receiver, in simulated time: each byte takes
// 10 bit times at its sender's rate, reaches the other side when its stop bit ends, and is
// garbled there when that side listens at another rate. Both transports (the in-process one
// and the pty server) drive the receiver through this class.
class Line {
 public:
  explicit Line(Receiver& receiver, bool logWire = true);

  SimTime Now() const { return now_; }
  Receiver& GetReceiver() { return receiver_; }

  // The host starts sending `byte` at `baud` at `atNs`, or behind its previous byte if that
  // has not left yet. Returns the moment the byte reaches the receiver.
  SimTime HostSend(uint8_t byte, uint32_t baud, SimTime atNs);
  // The moment the host's last byte has left; at most Now() when the host is idle.
  SimTime HostIdleAt() const { return hostBusyUntil_; }

  // The earliest host byte arrival or receiver event; kNever when nothing is pending.
  SimTime NextEventNs() const;
  // Runs the line and the receiver up to `t` (not before Now()). Bytes that reach a host
  // listening at `hostBaud` are appended to `toHost`; with `hostBaud` 0 nobody listens and
  // they are lost.
  void AdvanceTo(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost);

  const std::vector<WireEvent>& Wire() const { return wire_; }
  // Hands over the events logged so far and starts an empty log.
  std::vector<WireEvent> TakeWire();

 private:
  struct InFlight {
    uint8_t byte;
    uint32_t baud;
    SimTime startNs;
    SimTime endNs;
  };

  void DeliverToReceiver(const InFlight& byte);
  void CollectFromReceiver(uint32_t hostBaud, std::vector<HostByte>& toHost);

  Receiver& receiver_;
  bool logWire_;
  SimTime now_ = 0;
  SimTime hostBusyUntil_ = 0;
  std::deque<InFlight> toReceiver_;
  std::vector<WireEvent> wire_;
};

}  // namespace gpsfw::sim
