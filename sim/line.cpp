#include "sim/line.h"

#include <algorithm>

#include "sim/uart.h"

namespace gpsfw::sim {

Line::Line(Receiver& receiver, bool logWire) : receiver_(receiver), logWire_(logWire) {}

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
  const SimTime waiting = toHost_.empty() ? kNever : toHost_.front().endNs;
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
  while (receiver_.TakeOutput(out)) toHost_.push_back(out);
}

void Line::DeliverToHost(SimTime t, uint32_t hostBaud, std::vector<HostByte>& toHost) {
  while (!toHost_.empty() && toHost_.front().endNs <= t) {
    const TxByte out = toHost_.front();
    toHost_.pop_front();
    const UartSample sample = SampleByte(out.byte, out.baud, hostBaud);
    const bool garbled = out.baud != hostBaud;
    if (sample.delivered) {
      toHost.push_back(HostByte{sample.framingError ? uint8_t{0} : sample.value, out.endNs, garbled,
                                sample.framingError});
    }
    if (!logWire_) continue;
    WireEvent event;
    event.startNs = out.startNs;
    event.endNs = out.endNs;
    event.direction = Direction::kTargetToHost;
    event.byte = out.byte;
    event.received = sample.value;
    event.senderBaud = out.baud;
    event.receiverBaud = hostBaud;
    event.garbled = garbled;
    event.dropped = !sample.delivered;
    event.framingError = sample.framingError;
    wire_.push_back(event);
  }
}

}  // namespace gpsfw::sim
