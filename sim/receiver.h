#pragma once

#include <cstdint>
#include <memory>

#include "sim/flash.h"
#include "sim/receiver_config.h"
#include "sim/sim_result.h"
#include "sim/sim_time.h"
#include "sim/verification.h"

namespace gpsfw::sim {

class ReceiverCore;

// A byte leaving the receiver: it starts at startNs and its stop bit ends at endNs, which is
// when it reaches the host.
struct TxByte {
  uint8_t byte = 0;
  uint32_t baud = 0;
  SimTime startNs = 0;
  SimTime endNs = 0;
};

// What the receiver's UART made of a byte from the host.
struct RxResult {
  uint32_t listenBaud = 0;  // the rate the receiver listened on when the byte arrived
  bool garbled = false;     // sent at another rate
  bool delivered = false;   // the UART took a byte (the firmware drops framing errors)
  bool framingError = false;
  uint8_t value = 0;  // what it took
};

// The GPS receiver: its application, resident boot loader and the SFLD, with their flash.
// A state machine over simulated time with no I/O of its own: a transport hands it the
// host's bytes at the moment their stop bit ends and collects its output bytes, each stamped
// with the time it reaches the host. Time only goes forward. Deterministic: the same bytes at
// the same times give the same answers.
class Receiver {
 public:
  explicit Receiver(const ReceiverConfig& config = ReceiverConfig());
  ~Receiver();
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // Runs the receiver's own work (answers, erase, timers) up to `nowNs`.
  void AdvanceTo(SimTime nowNs);
  // A byte from the host whose stop bit ended at `arrivalNs` (not before Now()), sent at
  // `senderBaud`. Advances to `arrivalNs` first.
  RxResult OnByte(uint8_t byte, SimTime arrivalNs, uint32_t senderBaud);
  // The earliest moment at which the receiver does something by itself or an output byte
  // is complete; kNever when it waits for the host.
  SimTime NextEventNs() const;
  // The next output byte whose stop bit has ended by Now(), in order. False when none.
  bool TakeOutput(TxByte& out);
  // When the start bit of the next output byte not yet taken begins (it may have begun);
  // kNever when none is queued. The line is final up to there: a reset may still take back
  // a byte on its way.
  SimTime NextOutputStartNs() const;

  SimTime Now() const;
  // The rate the receiver's UART runs at now, in both directions.
  uint32_t ListenBaud() const;
  // The state machine's current state, for messages: "application", "boot loader", ...
  const char* StateName() const;

  // The receiver loses its supply: it stops at once, hears and says nothing until PowerOn,
  // which starts it in its application. The flash keeps its contents.
  void PowerOff();
  void PowerOn();

  const ReceiverConfig& Config() const;
  const Flash& GetFlash() const;
  // Everything so far; the current phase ends at Now().
  SimResult Result() const;
  // The result as it grows, without a copy; the current phase's end is not kept up to date.
  const SimResult& Live() const;

 private:
  std::unique_ptr<ReceiverCore> core_;
};

}  // namespace gpsfw::sim
