// The record exchange, the same in the boot loader (SFLD upload) and in the SFLD (erase
// record, flash records): SYNC_CODE announces a record, REC_WAIT_CODE asks for it, the frame
// follows and gets SYNC_CODE or an error byte. After an error the loader waits for the line
// to fall quiet and says again that it waits for a record.
#include <algorithm>
#include <cstdio>

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {
namespace {

uint32_t BigEndianWord(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t{bytes[offset]} << 24 | uint32_t{bytes[offset + 1]} << 16 |
         uint32_t{bytes[offset + 2]} << 8 | uint32_t{bytes[offset + 3]};
}

bool Matches(const RecordPoint& point, Stage stage, int index) {
  return point.stage == stage && point.index == index;
}

std::string RecordName(int index) {
  if (index == kEndRecord) return "end record";
  if (index == kEraseRecord) return "erase record";
  return "record " + std::to_string(index);
}

}  // namespace

Stage ReceiverCore::CurrentStage() const {
  return mode_ == Mode::kSfldUpload ? Stage::kSfld : Stage::kFlash;
}

int ReceiverCore::CurrentIndex(bool endRecord) const {
  if (mode_ == Mode::kEraseRecord) return kEraseRecord;
  return endRecord ? kEndRecord : acceptedData_;
}

int ReceiverCore::Attempt() const {
  return CurrentStage() == Stage::kSfld ? result_.sfldUploads : result_.flashAttempts;
}

void ReceiverCore::RecordByte(uint8_t byte) {
  if (InFlashStage() && exchange_ != Exchange::kResync) ArmIdleTimer();
  const bool newUpload = mode_ == Mode::kSfldUpload && byte == PFLD_VER_CODE;
  switch (exchange_) {
    case Exchange::kAwaitAnnounce:
      if (byte == SYNC_CODE) Announce();
      if (newUpload) BeginUpload();
      break;
    case Exchange::kAwaitFrame:
      if (byte == FRAME_START) {
        decoder_.Reset();
        exchange_ = Exchange::kInFrame;
        FrameByte(byte);
      } else if (byte == SYNC_CODE) {
        Reply(REC_WAIT_CODE);  // still waiting for the frame
      } else if (newUpload) {
        BeginUpload();
      }
      break;
    case Exchange::kInFrame:
      FrameByte(byte);
      break;
    case Exchange::kResync:
      Cancel(resyncTimer_);
      resyncTimer_ = Schedule(InUs(config_.timing.resyncUs), [this] { EndResync(); });
      break;
    case Exchange::kBusy:
      break;
  }
}

void ReceiverCore::Announce() {
  uint32_t ms = 0;
  if (TakeSilence(CurrentIndex(false), SilenceWhen::kBeforeRecWait, &ms)) {
    Event("silent for " + std::to_string(ms) + " ms before REC_WAIT_CODE");
    exchange_ = Exchange::kBusy;
    silentUntil_ = now_ + MsToNs(ms);
    Schedule(silentUntil_, [this] {
      exchange_ = Exchange::kAwaitFrame;
      Reply(REC_WAIT_CODE);
    });
    return;
  }
  exchange_ = Exchange::kAwaitFrame;
  Reply(REC_WAIT_CODE);
}

void ReceiverCore::FrameByte(uint8_t byte) {
  Cancel(frameTimer_);
  const FrameStatus status = decoder_.Feed(byte);
  if (status == FrameStatus::kIncomplete) {
    frameTimer_ = Schedule(InUs(config_.timing.frameGapUs), [this] { FrameTimeout(); });
    return;
  }
  FrameDone(status);
}

void ReceiverCore::FrameTimeout() {
  frameTimer_ = kNoTimer;
  const bool end = decoder_.Words() == 0;
  Reject(RECORD_TIMEOUT, "frame not completed in time", CurrentIndex(end), 0);
}

void ReceiverCore::FrameDone(FrameStatus status) {
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

void ReceiverCore::CompleteRecord() {
  const std::vector<uint8_t>& payload = decoder_.Payload();
  const bool end = decoder_.Words() == 0;
  const int index = CurrentIndex(end);
  const uint32_t address = end ? 0 : BigEndianWord(payload, 0);
  if (mode_ == Mode::kEraseRecord && !CheckEraseRecord(payload, index, address)) return;
  uint8_t errorByte = 0;
  if (TakeRejectFault(index, &errorByte)) {
    Reject(errorByte, "injected fault", index, address);
    return;
  }
  int count = 0;
  if (TakeFloodFault(index, &count)) {
    Event(std::to_string(count) + " REC_WAIT_CODE after " + RecordName(index));
    for (int i = 0; i < count; ++i) Reply(REC_WAIT_CODE);
    exchange_ = Exchange::kAwaitFrame;
    return;
  }
  const uint32_t dataBytes = end ? 0 : static_cast<uint32_t>(payload.size() - kRecordAddressBytes);
  if (!end && mode_ == Mode::kSfldUpload) KeepSfldData(address, payload);
  if (!end && mode_ == Mode::kFlashRecords) ProgramData(address, payload);
  Accept(index, address, mode_ == Mode::kEraseRecord ? 0 : dataBytes);
}

bool ReceiverCore::CheckEraseRecord(const std::vector<uint8_t>& payload, int index,
                                    uint32_t address) {
  constexpr uint16_t kEraseWords = 4;
  if (decoder_.Words() != kEraseWords) {
    Reject(BAD_LENGTH, "not an erase range", index, address);
    return false;
  }
  const uint32_t end = BigEndianWord(payload, kRecordAddressBytes);
  const uint64_t flashEnd = uint64_t{flash_.Base()} + flash_.Size();
  const bool inside = address >= flash_.Base() && end <= flashEnd;
  if (end < address || (end > address && !inside)) {
    Reject(BAD_COMMAND, "erase range outside the flash", index, address);
    return false;
  }
  eraseStart_ = address;
  eraseEnd_ = end;
  return true;
}

void ReceiverCore::Accept(int index, uint32_t address, uint32_t dataBytes) {
  const bool programs = mode_ == Mode::kFlashRecords && index != kEndRecord;
  SimTime delay = UsToNs(programs ? config_.timing.programRecordUs : 0);
  uint32_t ms = 0;
  if (TakeSilence(index, SilenceWhen::kBeforeVerdict, &ms)) {
    Event("silent for " + std::to_string(ms) + " ms before the verdict on " + RecordName(index));
    silentUntil_ = now_ + MsToNs(ms);
    delay += MsToNs(ms);
  }
  Note(index, address, dataBytes, SYNC_CODE, "accepted");
  exchange_ = Exchange::kBusy;
  Schedule(now_ + delay, [this, index] {
    Reply(SYNC_CODE);
    AfterVerdict(index);
  });
}

void ReceiverCore::Reject(uint8_t errorByte, const std::string& reason, int index,
                          uint32_t address) {
  char byteText[8];
  std::snprintf(byteText, sizeof byteText, "0x%02X", errorByte);
  Note(index, address, 0, errorByte, reason);
  Event(RecordName(index) + " rejected with " + byteText + ": " + reason);
  Reply(errorByte);
  exchange_ = Exchange::kResync;
  Cancel(frameTimer_);
  Cancel(resyncTimer_);
  resyncTimer_ = Schedule(InUs(config_.timing.resyncUs), [this] { EndResync(); });
}

void ReceiverCore::EndResync() {
  resyncTimer_ = kNoTimer;
  exchange_ = Exchange::kAwaitAnnounce;
  Reply(REC_WAIT_CODE);
  // The host ends its flash stage after a rejected record and polls again at 19200.
  if (InFlashStage()) Fallback("record rejected");
}

void ReceiverCore::Note(int index, uint32_t address, uint32_t dataBytes, uint8_t verdict,
                        const std::string& reason) {
  result_.records.push_back(
      RecordEntry{CurrentStage(), Attempt(), index, address, dataBytes, verdict, reason, now_});
}

bool ReceiverCore::TakeRejectFault(int index, uint8_t* errorByte) {
  auto& rejects = faults_.rejects;
  for (auto it = rejects.begin(); it != rejects.end(); ++it) {
    if (!Matches(it->at, CurrentStage(), index)) continue;
    *errorByte = it->errorByte;
    if (!it->always) rejects.erase(it);
    return true;
  }
  return false;
}

bool ReceiverCore::TakeFloodFault(int index, int* count) {
  auto& floods = faults_.floods;
  for (auto it = floods.begin(); it != floods.end(); ++it) {
    if (!Matches(it->at, CurrentStage(), index)) continue;
    *count = it->count;
    floods.erase(it);
    return true;
  }
  return false;
}

bool ReceiverCore::TakeSilence(int index, SilenceWhen when, uint32_t* ms) {
  auto& silences = faults_.silences;
  for (auto it = silences.begin(); it != silences.end(); ++it) {
    if (it->when != when || !Matches(it->at, CurrentStage(), index)) continue;
    *ms = it->ms;
    silences.erase(it);
    return true;
  }
  return false;
}

bool ReceiverCore::TakeReset(int index, ResetTo* to) {
  auto& resets = faults_.resets;
  for (auto it = resets.begin(); it != resets.end(); ++it) {
    if (!Matches(it->at, CurrentStage(), index)) continue;
    *to = it->to;
    resets.erase(it);
    return true;
  }
  return false;
}

bool ReceiverCore::TakeResetAt(Mode mode, uint32_t position, ResetTo* to) {
  ReceiverPhase phase = ReceiverPhase::kApplication;
  switch (mode) {
    case Mode::kApplication:
      phase = ReceiverPhase::kApplication;
      break;
    case Mode::kBootPoll:
      phase = ReceiverPhase::kBootPoll;
      break;
    case Mode::kSfldUpload:
      phase = ReceiverPhase::kSfldUpload;
      break;
    case Mode::kSfldPoll:
      phase = ReceiverPhase::kSfldPoll;
      break;
    case Mode::kFlashCommands:
      phase = ReceiverPhase::kFlashCommands;
      break;
    case Mode::kEraseRecord:
      phase = ReceiverPhase::kEraseRecord;
      break;
    case Mode::kErasing:
      phase = ReceiverPhase::kErasing;
      break;
    case Mode::kFlashRecords:
      phase = ReceiverPhase::kProgramming;
      break;
    case Mode::kOff:
    case Mode::kStarting:
      return false;
  }
  auto& resets = faults_.resetsAt;
  for (auto it = resets.begin(); it != resets.end(); ++it) {
    if (it->phase != phase || it->position != position) continue;
    *to = it->to;
    resets.erase(it);
    return true;
  }
  return false;
}

bool ReceiverCore::TakeStraySync(uint32_t poll) {
  auto& polls = faults_.straySyncPolls;
  const auto it = std::find(polls.begin(), polls.end(), poll);
  if (it == polls.end()) return false;
  polls.erase(it);
  return true;
}

}  // namespace gpsfw::sim
