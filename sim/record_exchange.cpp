#include "sim/record_exchange.h"

#include <cstdio>
#include <vector>

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {
namespace {

uint32_t BigEndianWord(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t{bytes[offset]} << 24 | uint32_t{bytes[offset + 1]} << 16 |
         uint32_t{bytes[offset + 2]} << 8 | uint32_t{bytes[offset + 3]};
}

std::string RecordName(int index) {
  if (index == kEndRecord) return "end record";
  if (index == kEraseRecord) return "erase record";
  return "record " + std::to_string(index);
}

}  // namespace

void RecordExchange::Abandon() {
  core_.Timers().Cancel(frameTimer_);
  core_.Timers().Cancel(resyncTimer_);
  state_ = State::kAwaitAnnounce;
}

void RecordExchange::Interrupt() {
  frameTimer_ = resyncTimer_ = Timeline::kNoTimer;
  state_ = State::kAwaitAnnounce;
  decoder_.Reset();
}

ReceiverPhase RecordExchange::Phase() const {
  ReceiverPhase phase = ReceiverPhase::kSfldUpload;
  PhaseOf(core_.CurrentMode(), &phase);
  return phase;
}

Stage RecordExchange::CurrentStage() const {
  return core_.CurrentMode() == Mode::kSfldUpload ? Stage::kSfld : Stage::kFlash;
}

int RecordExchange::CurrentIndex(bool endRecord) const {
  if (core_.CurrentMode() == Mode::kEraseRecord) return kEraseRecord;
  return endRecord ? kEndRecord : acceptedData_;
}

int RecordExchange::Attempt() const {
  const SimResult& result = core_.Live();
  return CurrentStage() == Stage::kSfld ? result.sfldUploads : result.flashAttempts;
}

void RecordExchange::OnByte(uint8_t byte) {
  const Mode mode = core_.CurrentMode();
  if (InFlashStage(mode) && state_ != State::kResync) core_.Sfld().ArmIdleTimer();
  const bool newUpload = mode == Mode::kSfldUpload && byte == PFLD_VER_CODE;
  switch (state_) {
    case State::kAwaitAnnounce:
      if (byte == SYNC_CODE) Announce();
      if (newUpload) core_.Boot().BeginUpload();
      break;
    case State::kAwaitFrame:
      if (byte == FRAME_START) {
        decoder_.Reset();
        state_ = State::kInFrame;
        FrameByte(byte);
      } else if (byte == SYNC_CODE) {
        core_.Reply(REC_WAIT_CODE);  // still waiting for the frame
      } else if (newUpload) {
        core_.Boot().BeginUpload();
      }
      break;
    case State::kInFrame:
      FrameByte(byte);
      break;
    case State::kResync:
      core_.Timers().Cancel(resyncTimer_);
      resyncTimer_ =
          core_.Timers().Schedule(core_.InUs(core_.Times().resyncUs), [this] { EndResync(); });
      break;
    case State::kBusy:
      break;
  }
}

void RecordExchange::Announce() {
  PlannedFault silence;
  if (core_.Plan().Take(FaultKind::kSilenceBeforeRecWait, Phase(), CurrentIndex(false), &silence)) {
    core_.Event("silent for " + std::to_string(silence.amount) + " ms before REC_WAIT_CODE");
    state_ = State::kBusy;
    core_.Timers().Schedule(core_.SilenceFor(silence.amount), [this] {
      state_ = State::kAwaitFrame;
      core_.Reply(REC_WAIT_CODE);
    });
    return;
  }
  state_ = State::kAwaitFrame;
  core_.Reply(REC_WAIT_CODE);
}

void RecordExchange::FrameByte(uint8_t byte) {
  core_.Timers().Cancel(frameTimer_);
  const FrameStatus status = decoder_.Feed(byte);
  if (status == FrameStatus::kIncomplete) {
    frameTimer_ =
        core_.Timers().Schedule(core_.InUs(core_.Times().frameGapUs), [this] { FrameTimeout(); });
    return;
  }
  FrameDone(status);
}

void RecordExchange::FrameTimeout() {
  frameTimer_ = Timeline::kNoTimer;
  const bool end = decoder_.Words() == 0;
  Reject(RECORD_TIMEOUT, "frame not completed in time", CurrentIndex(end), 0);
}

void RecordExchange::FrameDone(FrameStatus status) {
  const bool end = decoder_.Words() == 0;
  const int index = CurrentIndex(end);
  switch (status) {
    case FrameStatus::kComplete:
      CompleteRecord();
      break;
    case FrameStatus::kBadLength:
      Reject(BAD_LENGTH, "word count " + std::to_string(decoder_.Words()), index, 0);
      break;
    case FrameStatus::kBadChecksum:
      Reject(BAD_CSUM, "checksum wrong", index, 0);
      break;
    case FrameStatus::kNoEnd:
      Reject(NO_REC_END, "end mark missing", index, 0);
      break;
    case FrameStatus::kNotAFrame:
    case FrameStatus::kIncomplete:
      break;
  }
}

void RecordExchange::CompleteRecord() {
  const std::vector<uint8_t>& payload = decoder_.Payload();
  const bool end = decoder_.Words() == 0;
  const int index = CurrentIndex(end);
  const uint32_t address = end ? 0 : BigEndianWord(payload, 0);
  const Mode mode = core_.CurrentMode();
  uint8_t errorByte = 0;
  std::string reason;
  if (mode == Mode::kEraseRecord &&
      !core_.Sfld().TakeEraseRange(payload, decoder_.Words(), address, &errorByte, &reason)) {
    return Reject(errorByte, reason, index, address);
  }
  PlannedFault fault;
  if (core_.Plan().Take(FaultKind::kReject, Phase(), index, &fault)) {
    return Reject(fault.byte, "injected fault", index, address);
  }
  if (core_.Plan().Take(FaultKind::kFlood, Phase(), index, &fault)) {
    core_.Event(std::to_string(fault.amount) + " REC_WAIT_CODE after " + RecordName(index));
    for (int64_t i = 0; i < fault.amount; ++i) core_.Reply(REC_WAIT_CODE);
    state_ = State::kAwaitFrame;
    return;
  }
  const uint32_t dataBytes = end ? 0 : static_cast<uint32_t>(payload.size() - kRecordAddressBytes);
  if (!end && mode == Mode::kSfldUpload) core_.Boot().KeepData(address, payload);
  if (!end && mode == Mode::kFlashRecords) core_.Sfld().Program(address, payload);
  Accept(index, address, mode == Mode::kEraseRecord ? 0 : dataBytes);
}

void RecordExchange::Accept(int index, uint32_t address, uint32_t dataBytes) {
  const bool programs = core_.CurrentMode() == Mode::kFlashRecords && index != kEndRecord;
  SimTime delay = UsToNs(programs ? core_.Times().programRecordUs : 0);
  PlannedFault silence;
  if (core_.Plan().Take(FaultKind::kSilenceBeforeVerdict, Phase(), index, &silence)) {
    core_.Event("silent for " + std::to_string(silence.amount) + " ms before the verdict on " +
                RecordName(index));
    core_.SilenceFor(silence.amount);
    delay += MsToNs(static_cast<uint64_t>(silence.amount));
  }
  Note(index, address, dataBytes, SYNC_CODE, "accepted");
  state_ = State::kBusy;
  core_.Timers().Schedule(core_.Now() + delay, [this, index] {
    core_.Reply(SYNC_CODE);
    AfterVerdict(index);
  });
}

void RecordExchange::AfterVerdict(int index) {
  const bool end = index == kEndRecord;
  const Mode mode = core_.CurrentMode();
  PlannedFault reset;
  if (core_.Plan().Take(FaultKind::kResetAfterVerdict, Phase(), index, &reset)) {
    // The end record was taken: the flash holds the image, whatever the receiver does next.
    if (end && mode == Mode::kFlashRecords) core_.Sfld().NoteCompletion();
    const ResetTo to = reset.to;
    core_.Timers().Schedule(core_.TxIdleAt(), [this, to] { core_.Reset(to); });
    return;
  }
  switch (mode) {
    case Mode::kSfldUpload:
      if (end) return core_.Boot().StartSfld();
      break;
    case Mode::kEraseRecord:
      return core_.Sfld().EraseTakenRange();
    case Mode::kFlashRecords:
      if (end) return core_.Sfld().CompleteUpdate();
      break;
    default:
      return;
  }
  ++acceptedData_;
  state_ = State::kAwaitAnnounce;
}

void RecordExchange::Reject(uint8_t errorByte, const std::string& reason, int index,
                            uint32_t address) {
  char byteText[8];
  std::snprintf(byteText, sizeof byteText, "0x%02X", errorByte);
  Note(index, address, 0, errorByte, reason);
  core_.Event(RecordName(index) + " rejected with " + byteText + ": " + reason);
  core_.Reply(errorByte);
  state_ = State::kResync;
  core_.Timers().Cancel(frameTimer_);
  core_.Timers().Cancel(resyncTimer_);
  resyncTimer_ =
      core_.Timers().Schedule(core_.InUs(core_.Times().resyncUs), [this] { EndResync(); });
}

void RecordExchange::EndResync() {
  resyncTimer_ = Timeline::kNoTimer;
  state_ = State::kAwaitAnnounce;
  core_.Reply(REC_WAIT_CODE);
  // The host ends its flash stage after a rejected record and polls again at 19200.
  if (InFlashStage(core_.CurrentMode())) core_.Sfld().Fallback("record rejected");
}

void RecordExchange::Note(int index, uint32_t address, uint32_t dataBytes, uint8_t verdict,
                          const std::string& reason) {
  core_.Results().records.push_back(RecordEntry{CurrentStage(), Attempt(), index, address,
                                                dataBytes, verdict, reason, core_.Now()});
}

}  // namespace gpsfw::sim
