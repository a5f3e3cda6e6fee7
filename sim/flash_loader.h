#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/timeline.h"

namespace gpsfw::sim {

class ReceiverCore;

// The SFLD, the second-stage flash loader in RAM. Polled at 19200 it answers SYNC_CODE and
// moves to 115200, where it answers the version and type queries and the boot-mode command,
// takes the erase command and the erase range, and programs the image's records. Without
// traffic for a while, after a rejected record or a failed erase it falls back to 19200 and
// waits to be polled again.
class FlashLoader {
 public:
  explicit FlashLoader(ReceiverCore& core) : core_(core) {}

  void OnPollByte(uint8_t byte);
  void OnCommandByte(uint8_t byte);
  // The range of an erase record, or false with the error byte and the reason it is refused.
  bool TakeEraseRange(const std::vector<uint8_t>& payload, uint16_t words, uint32_t address,
                      uint8_t* errorByte, std::string* reason);
  void EraseTakenRange();
  void Program(uint32_t address, const std::vector<uint8_t>& payload);
  // The end record was taken: the flash holds the image.
  void NoteCompletion();
  // NoteCompletion, then the restart into the new firmware.
  void CompleteUpdate();
  void Fallback(const std::string& why);

  // Any traffic, its own included, puts off the fallback for want of it.
  void ArmIdleTimer();
  void CancelIdleTimer();
  // A reset: its timers are gone with the others.
  void Interrupt();

 private:
  void BeginEraseCommand();
  void IdleTimeout();

  ReceiverCore& core_;
  Timeline::TimerId idleTimer_ = Timeline::kNoTimer;
  bool eraseArmed_ = false;  // SYNC_CODE seen, ERASE_CODE may follow
  uint32_t eraseStart_ = 0;  // the range of the erase record being answered
  uint32_t eraseEnd_ = 0;
};

}  // namespace gpsfw::sim
