// What the boot loader and the SFLD make of polls, commands and accepted records.
#include <algorithm>

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {
bool ReceiverCore::InFlashStage() const {
  return mode_ == Mode::kFlashCommands || mode_ == Mode::kEraseRecord || mode_ == Mode::kErasing ||
         mode_ == Mode::kFlashRecords;
}

void ReceiverCore::BootPollByte(uint8_t byte) {
  const bool poll = byte == SYNC_CODE || byte == REC_POLL_CODE || byte == PFLD_VER_CODE;
  if (poll && TakeStraySync(++result_.bootLoaderPolls)) {
    Event("SYNC_CODE instead of the answer to poll " + std::to_string(result_.bootLoaderPolls));
    Reply(SYNC_CODE);
    return;
  }
  switch (byte) {
    case SYNC_CODE:
      Reply(config_.bootLoaderVersion);
      break;
    case REC_POLL_CODE:
      Reply(REC_POLL_CODE);
      break;
    case PFLD_VER_CODE:
      // The boot loader has no PFLD to report: it asks for the SFLD instead.
      BeginUpload();
      break;
    default:
      break;
  }
}

void ReceiverCore::BeginUpload() {
  ++result_.sfldUploads;
  result_.sfld.clear();
  acceptedData_ = 0;
  Cancel(frameTimer_);
  Cancel(resyncTimer_);
  Event("SFLD upload " + std::to_string(result_.sfldUploads) + " begins");
  Enter(Mode::kSfldUpload, kBootLoaderBaud, kPhaseSfldUpload);
  exchange_ = Exchange::kAwaitAnnounce;
  Reply(REC_WAIT_CODE);
}

void ReceiverCore::StartSfld() {
  ++result_.sfldStarts;
  Event("SFLD starts with " + std::to_string(SegmentBytes(result_.sfld)) + " bytes");
  SwitchAt(TxIdleAt() + UsToNs(config_.timing.sfldStartUs), Mode::kSfldPoll, kBootLoaderBaud,
           kPhaseSfld);
}

void ReceiverCore::SfldPollByte(uint8_t byte) {
  // Any of the host's poll bytes: after a failed stage the host polls with whichever it
  // had, and the SFLD has nothing else to say.
  if (byte != SYNC_CODE && byte != REC_POLL_CODE && byte != PFLD_VER_CODE) return;
  ++result_.flashAttempts;
  result_.programmed.clear();
  acceptedData_ = 0;
  eraseArmed_ = false;
  Event("flash stage " + std::to_string(result_.flashAttempts) + " begins");
  Reply(SYNC_CODE);
  // The answer still goes out at 19200; then the SFLD moves to 115200.
  SwitchAt(TxIdleAt(), Mode::kFlashCommands, kFlashBaud, kPhaseFlashCommands);
}

void ReceiverCore::FlashCommandByte(uint8_t byte) {
  if (eraseArmed_ && byte == ERASE_CODE) {
    eraseArmed_ = false;
    BeginEraseCommand();
    return;
  }
  eraseArmed_ = byte == SYNC_CODE;
  switch (byte) {
    case VER_QUERY_CODE:
      Reply(config_.sfldVersion);
      break;
    case TYPE_QUERY_CODE:
      if (config_.typeReplyOverride.empty()) {
        Reply(std::vector<uint8_t>{TYPE_QUERY_CODE, config_.flashType});
      } else {
        Reply(config_.typeReplyOverride);
      }
      break;
    case BOOT_MODE_CODE:
      if (faults_.missingBootModeEchoes > 0) {
        --faults_.missingBootModeEchoes;
        Fallback("boot-mode command left unanswered");
        return;
      }
      Reply(BOOT_MODE_CODE);
      break;
    case SYNC_CODE:
      break;
    default:
      return;  // not a command: no traffic as far as the SFLD knows
  }
  ArmIdleTimer();
}

void ReceiverCore::BeginEraseCommand() {
  if (faults_.missingEraseSyncs > 0) {
    --faults_.missingEraseSyncs;
    Fallback("erase command left unanswered");
    return;
  }
  Reply(SYNC_CODE);
  Enter(Mode::kEraseRecord, kFlashBaud, kPhaseErase);
  exchange_ = Exchange::kAwaitAnnounce;
}

void ReceiverCore::ArmIdleTimer() {
  Cancel(idleTimer_);
  idleTimer_ = Schedule(TxIdleAt() + UsToNs(config_.timing.sfldIdleUs), [this] { IdleTimeout(); });
}

void ReceiverCore::IdleTimeout() {
  idleTimer_ = kNoTimer;
  if (!InFlashStage()) return;
  // Its own work (a verdict, a silence, an erase) is no reason to give up on the host.
  if (exchange_ == Exchange::kBusy || now_ < silentUntil_ || mode_ == Mode::kErasing) {
    ArmIdleTimer();
    return;
  }
  Fallback("no traffic for " + std::to_string(config_.timing.sfldIdleUs / 1000) + " ms");
}

void ReceiverCore::Fallback(const std::string& why) {
  Event("SFLD back to 19200: " + why);
  Cancel(idleTimer_);
  Cancel(frameTimer_);
  Cancel(resyncTimer_);
  exchange_ = Exchange::kAwaitAnnounce;
  eraseArmed_ = false;
  SwitchAt(TxIdleAt(), Mode::kSfldPoll, kBootLoaderBaud, kPhaseSfld);
}

void ReceiverCore::StartErase(uint32_t start, uint32_t end) {
  EraseEntry entry;
  entry.start = start;
  entry.end = end;
  entry.timeNs = now_;
  flash_.SectorsOverlapping(start, end, &entry.firstSector, &entry.sectors);
  flash_.BeginErase(start, end);
  eraseTarget_ = entry.sectors;
  eraseFaultByte_ = -1;
  if (!faults_.eraseFaults.empty()) {
    const EraseFault fault = faults_.eraseFaults.front();
    faults_.eraseFaults.erase(faults_.eraseFaults.begin());
    eraseTarget_ = std::min(fault.afterSectors, entry.sectors);
    eraseFaultByte_ = fault.byte;
    entry.failed = true;
  }
  result_.erases.push_back(entry);
  SetMode(Mode::kErasing);
  eraseAt_ = TxIdleAt();
  ResetTo to = ResetTo::kApplication;
  if (TakeResetAt(Mode::kErasing, 0, &to)) return Reset(to);
  if (eraseTarget_ == 0) return FinishErase();
  Schedule(eraseAt_ + UsToNs(config_.timing.eraseSectorUs), [this] { EraseNextSector(); });
}

// One sector is done: the SFLD reports it, then starts on the next or ends the erase.
void ReceiverCore::EraseNextSector() {
  EraseEntry& entry = result_.erases.back();
  ResetTo to = ResetTo::kApplication;
  if (TakeResetAt(Mode::kErasing, entry.sectorsErased, &to)) return Reset(to);
  flash_.EraseSector(entry.firstSector + entry.sectorsErased);
  ++entry.sectorsErased;
  eraseAt_ = now_;
  Send(&SECTOR_ERASED_CODE, 1, now_);
  if (entry.sectorsErased == eraseTarget_) return FinishErase();
  Schedule(now_ + UsToNs(config_.timing.eraseSectorUs), [this] { EraseNextSector(); });
}

void ReceiverCore::FinishErase() {
  const SimTime answerAt = eraseAt_ + UsToNs(config_.timing.replyUs);
  if (eraseFaultByte_ >= 0) {
    const uint8_t byte = static_cast<uint8_t>(eraseFaultByte_);
    Send(&byte, 1, answerAt);
    Fallback("erase abandoned after " + std::to_string(result_.erases.back().sectorsErased) +
             " sectors");
    return;
  }
  Send(&SYNC_CODE, 1, answerAt);
  acceptedData_ = 0;
  exchange_ = Exchange::kAwaitAnnounce;
  SwitchAt(TxIdleAt(), Mode::kFlashRecords, kFlashBaud, kPhaseProgramming, Mode::kErasing);
}

void ReceiverCore::KeepSfldData(uint32_t address, const std::vector<uint8_t>& payload) {
  AppendSegment(result_.sfld, address, payload.data() + kRecordAddressBytes,
                payload.size() - kRecordAddressBytes);
}

void ReceiverCore::ProgramData(uint32_t address, const std::vector<uint8_t>& payload) {
  // The loader cannot tell a pad byte from data: it programs the whole payload.
  const size_t count = payload.size() - kRecordAddressBytes;
  AppendSegment(result_.programmed, address, payload.data() + kRecordAddressBytes, count);
  flash_.Program(address, payload.data() + kRecordAddressBytes, count, now_, result_.flashFaults);
}

void ReceiverCore::AfterVerdict(int index) {
  const bool end = index == kEndRecord;
  ResetTo to = ResetTo::kApplication;
  if (TakeReset(index, &to)) {
    // The end record was taken: the flash holds the image, whatever the receiver does next.
    if (end && mode_ == Mode::kFlashRecords) NoteCompletion();
    Schedule(TxIdleAt(), [this, to] { Reset(to); });
    return;
  }
  switch (mode_) {
    case Mode::kSfldUpload:
      if (end) return StartSfld();
      break;
    case Mode::kEraseRecord:
      return StartErase(eraseStart_, eraseEnd_);
    case Mode::kFlashRecords:
      if (end) return CompleteUpdate();
      break;
    default:
      return;
  }
  ++acceptedData_;
  exchange_ = Exchange::kAwaitAnnounce;
}

void ReceiverCore::NoteCompletion() {
  result_.updateCompleted = true;
  ++result_.completedUpdates;
  result_.completedNs = TxIdleAt();
  Event("update complete: " + std::to_string(SegmentBytes(result_.programmed)) + " bytes");
}

void ReceiverCore::CompleteUpdate() {
  NoteCompletion();
  // The SFLD restarts the receiver, which now runs the new firmware.
  SwitchAt(TxIdleAt() + UsToNs(config_.timing.rebootUs), Mode::kApplication, config_.powerOnBaud,
           kPhaseApplication);
}

}  // namespace gpsfw::sim
