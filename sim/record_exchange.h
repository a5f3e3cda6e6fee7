#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/frame_decoder.h"
#include "sim/receiver_config.h"
#include "sim/timeline.h"

namespace gpsfw::sim {

class ReceiverCore;

// A record's payload starts with its target address.
inline constexpr size_t kRecordAddressBytes = 4;

// The record exchange, the same in the boot loader (SFLD upload) and in the SFLD (erase
// record, flash records): SYNC_CODE announces a record, REC_WAIT_CODE asks for it, the frame
// follows and gets SYNC_CODE or an error byte. After an error the loader waits for the line
// to fall quiet and says again that it waits for a record. What the loader does with a
// record it accepted is the loader's business; the exchange hands it over.
class RecordExchange {
 public:
  explicit RecordExchange(ReceiverCore& core) : core_(core) {}

  void OnByte(uint8_t byte);
  // A new upload or flash stage: records are counted from 0 again.
  void BeginAttempt() { acceptedData_ = 0; }
  // No record in hand: the next SYNC_CODE announces one.
  void Restart() { state_ = State::kAwaitAnnounce; }
  // Restart, with the frame and the quiet line no longer timed.
  void Abandon();
  // A reset: the timers are gone with the others, and so is the frame in hand.
  void Interrupt();
  // Working on a record's verdict, or silent before REC_WAIT_CODE.
  bool Busy() const { return state_ == State::kBusy; }

 private:
  enum class State { kAwaitAnnounce, kAwaitFrame, kInFrame, kBusy, kResync };

  void Announce();
  void FrameByte(uint8_t byte);
  void FrameTimeout();
  void FrameDone(FrameStatus status);
  void CompleteRecord();
  void Accept(int index, uint32_t address, uint32_t dataBytes);
  void Reject(uint8_t errorByte, const std::string& reason, int index, uint32_t address);
  void AfterVerdict(int index);
  void EndResync();
  void Note(int index, uint32_t address, uint32_t dataBytes, uint8_t verdict,
            const std::string& reason);
  // Where the faults of the current record are planned.
  ReceiverPhase Phase() const;
  Stage CurrentStage() const;
  int CurrentIndex(bool endRecord) const;
  int Attempt() const;

  ReceiverCore& core_;
  State state_ = State::kAwaitAnnounce;
  FrameDecoder decoder_;
  int acceptedData_ = 0;  // data records accepted in this attempt
  Timeline::TimerId frameTimer_ = Timeline::kNoTimer;
  Timeline::TimerId resyncTimer_ = Timeline::kNoTimer;
};

}  // namespace gpsfw::sim
