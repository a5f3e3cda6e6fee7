#include "sim/line.h"

#include <algorithm>

#include "sim/uart.h"

namespace gpsfw::sim {

Line::Line(Receiver& receiver, bool logWire) : receiver_(receiver), logWire_(logWire) {
  const ReceiverConfig& config = receiver.Config();
  if (config.nmea.baud != 0) hostUart_.reset(new UartStream(config.faults.seed));
}

SimTime Line::HostSend(uint8_t byte, uint32_t baud, SimTime atNs) {
  InFlight out;
  out.byte = byte;
  out.baud = baud;
  out.startNs = std::max({atNs, hostBusyUntil_, now_});
  out.endNs = out.startNs + ByteTimeNs(baud);
  hostBusyUntil_ = out.endNs;
  toReceiver_.push_back(out);
  return out.endNs;
}

SimTime Line::NextEventNs() const {
  const SimTime host = toReceiver_.empty() ? kNever : toReceiver_.front().endNs;
  return std::min(host, NextDeliveryNs());
}

SimTime Line::NextDeliveryNs() const {
  SimTime waiting = toHost_.empty() ? kNever : toHost_.front().endNs;
  if (hostUart_) {
    // A frame that reaches into a byte the receiver has yet to finish waits for that byte,
    // which is an event of the receiver.
    waiting = hostUart_->NextNs(hostBaud_);
    if (waiting > receiver_.NextOutputStartNs()) waiting = kNever;
  }
  return std::min(waiting, receiver_.NextEventNs());
}

void Line::AdvanceTo(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost) {
  Run(t, hostBaud, &toHost);
}

void Line::RunReceiverTo(SimTime t) {
  Run(t, -1, nullptr);
}

void Line::Run(SimTime t, long hostBaud, std::vector<HostByte>* toHost) {
  for (;;) {
    const SimTime host = toReceiver_.empty() ? kNever : toReceiver_.front().endNs;
    const SimTime target = receiver_.NextEventNs();
    if (std::min(host, target) > t) break;
    if (host <= target) {
      const InFlight byte = toReceiver_.front();
      toReceiver_.pop_front();
      DeliverToReceiver(byte);
    } else {
      receiver_.AdvanceTo(target);
    }
    TakeFromReceiver();
    if (hostBaud >= 0) DeliverToHost(receiver_.Now(), static_cast<uint32_t>(hostBaud), *toHost);
  }
  receiver_.AdvanceTo(std::max(t, receiver_.Now()));
  TakeFromReceiver();
  if (hostBaud >= 0) DeliverToHost(receiver_.Now(), static_cast<uint32_t>(hostBaud), *toHost);
  now_ = std::max(now_, t);
}

void Line::DropInFlight() {
  toReceiver_.clear();
  toHost_.clear();
  if (hostUart_) hostUart_->Clear(now_);
  hostBusyUntil_ = std::min(hostBusyUntil_, now_);
}

std::vector<WireEvent> Line::TakeWire() {
  std::vector<WireEvent> taken;
  taken.swap(wire_);
  return taken;
}

void Line::DeliverToReceiver(const InFlight& byte) {
  const RxResult rx = receiver_.OnByte(byte.byte, byte.endNs, byte.baud);
  if (!logWire_) return;
  WireEvent event;
  event.startNs = byte.startNs;
  event.endNs = byte.endNs;
  event.direction = Direction::kHostToTarget;
  event.byte = byte.byte;
  event.received = rx.value;
  event.senderBaud = byte.baud;
  event.receiverBaud = rx.listenBaud;
  event.garbled = rx.garbled;
  event.dropped = !rx.delivered;
  event.framingError = rx.framingError;
  wire_.push_back(event);
}

void Line::TakeFromReceiver() {
  TxByte out;
  while (receiver_.TakeOutput(out)) {
    if (hostUart_) {
      hostUart_->Push(out);
    } else {
      toHost_.push_back(out);
    }
  }
}

void Line::DeliverToHost(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost) {
  if (hostUart_) {
    DeliverSampled(t, hostBaud, toHost);
    return;
  }
  while (!toHost_.empty() && toHost_.front().endNs <= t) {
    const TxByte out = toHost_.front();
    toHost_.pop_front();
    const UartSample sample = SampleByte(out.byte, out.baud, hostBaud);
    const bool garbled = out.baud != hostBaud;
    if (sample.delivered) {
      toHost.push_back(HostByte{sample.framingError ? uint8_t{0} : sample.value, out.endNs, garbled,
                                sample.framingError});
    }
    LogToHost(out, hostBaud, sample.delivered, sample.value, sample.framingError);
  }
}

void Line::DeliverSampled(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost) {
  hostBaud_ = hostBaud;
  frames_.clear();
  consumed_.clear();
  // The line is final up to the next byte the receiver has not finished.
  hostUart_->Run(std::min(t, receiver_.NextOutputStartNs()), hostBaud, frames_, consumed_);
  for (const UartFrame& frame : frames_) {
    toHost.push_back(HostByte{frame.framingError ? uint8_t{0} : frame.value, frame.atNs,
                              frame.garbled, frame.framingError});
  }
  // Each byte sent is logged with the first frame that began in it.
  for (const UartConsumed& byte : consumed_) {
    LogToHost(byte.byte, hostBaud, byte.framed, byte.first.value, byte.first.framingError);
  }
}

void Line::LogToHost(const TxByte& out, uint32_t hostBaud, bool delivered, uint8_t received,
                     bool framingError) {
  if (!logWire_) return;
  WireEvent event;
  event.startNs = out.startNs;
  event.endNs = out.endNs;
  event.direction = Direction::kTargetToHost;
  event.byte = out.byte;
  event.received = received;
  event.senderBaud = out.baud;
  event.receiverBaud = hostBaud;
  event.garbled = out.baud != hostBaud;
  event.dropped = !delivered;
  event.framingError = framingError;
  wire_.push_back(event);
}

}  // namespace gpsfw::sim
