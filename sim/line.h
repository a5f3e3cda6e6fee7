#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/receiver.h"
#include "sim/sim_time.h"
#include "sim/uart_stream.h"
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
//
// A receiver with an NMEA stream of its own reaches the host through a UartStream: the
// host's UART samples the whole waveform, so that a byte may yield several bytes or none and
// a byte arrives when its stop bit is sampled. Otherwise each byte is sampled alone
// (SampleByte) and arrives when its stop bit ends.
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

  // The earliest host byte arrival, receiver event or receiver byte waiting for the host;
  // kNever when nothing is pending.
  SimTime NextEventNs() const;
  // Runs the line and the receiver up to `t` (not before Now()). Bytes that reach a host
  // listening at `hostBaud` are appended to `toHost`; with `hostBaud` 0 nobody listens and
  // they are lost.
  void AdvanceTo(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost);

  // A host in real time can only be served as far as no byte of its own can reach the
  // receiver first: up to the end of the bytes it has already sent, or the present. The
  // receiver runs ahead to `t`; its bytes wait in the line until DeliverToHost hands over
  // those that have reached the host by then, at the rate the host listens on at that moment.
  void RunReceiverTo(SimTime t);
  void DeliverToHost(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost);
  // When the receiver's next byte reaches the host or it does something by itself.
  SimTime NextDeliveryNs() const;
  // The host's port has gone: its bytes not yet arrived and the receiver's bytes not yet
  // delivered are lost.
  void DropInFlight();

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

  // With `hostBaud` < 0 the receiver's bytes stay waiting for DeliverToHost.
  void Run(SimTime t, long hostBaud, std::vector<HostByte>* toHost);
  void DeliverToReceiver(const InFlight& byte);
  void TakeFromReceiver();
  void DeliverSampled(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost);
  void LogToHost(const TxByte& out, uint32_t hostBaud, bool delivered, uint8_t received,
                 bool framingError);

  Receiver& receiver_;
  bool logWire_;
  SimTime now_ = 0;
  SimTime hostBusyUntil_ = 0;
  std::deque<InFlight> toReceiver_;
  std::deque<TxByte> toHost_;             // sent by the receiver, not yet handed to the host
  std::unique_ptr<UartStream> hostUart_;  // the host's UART on the whole stream, or none
  uint32_t hostBaud_ = 0;                 // the host's rate when it last took bytes
  std::vector<UartFrame> frames_;
  std::vector<UartConsumed> consumed_;
  std::vector<WireEvent> wire_;
};

}  // namespace gpsfw::sim
