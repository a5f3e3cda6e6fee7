#pragma once

#include <cstdint>
#include <deque>
#include <random>

namespace gpsfw::sim {

class ReceiverCore;

// The receiver's application: it listens at its power-on rate for the wake sequence, and
// says things nobody asked for (NMEA sentences, at its power-on rate or at a rate of its
// own, and the garbage of a noisy line while it or the boot loader is polled).
class Application {
 public:
  Application(ReceiverCore& core, uint32_t seed);

  void OnByte(uint8_t byte, bool garbled);
  // A byte lost or garbled, or the application starting: the wake sequence starts again.
  void ForgetWakeBytes() { wakeWindow_.clear(); }
  // Starts the sentences and the garbage the configuration asks for; a restart stops them.
  void StartPeriodicWork();

 private:
  void Wake();
  void Chatter();
  void NmeaStream();
  void Garbage();

  ReceiverCore& core_;
  std::deque<uint8_t> wakeWindow_;
  std::mt19937 random_;
};

}  // namespace gpsfw::sim
