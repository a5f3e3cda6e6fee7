#include "sim/flash_loader.h"

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {
namespace {

uint32_t BigEndianWord(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t{bytes[offset]} << 24 | uint32_t{bytes[offset + 1]} << 16 |
         uint32_t{bytes[offset + 2]} << 8 | uint32_t{bytes[offset + 3]};
}

}  // namespace

void FlashLoader::OnPollByte(uint8_t byte) {
  // Any of the host's poll bytes: after a failed stage the host polls with whichever it
  // had, and the SFLD has nothing else to say.
  if (byte != SYNC_CODE && byte != REC_POLL_CODE && byte != PFLD_VER_CODE) return;
  SimResult& result = core_.Results();
  ++result.flashAttempts;
  result.programmed.clear();
  core_.Exchange().BeginAttempt();
  eraseArmed_ = false;
  core_.Event("flash stage " + std::to_string(result.flashAttempts) + " begins");
  core_.Reply(SYNC_CODE);
  // The answer still goes out at 19200; then the SFLD moves to 115200.
  core_.SwitchAt(core_.TxIdleAt(), Mode::kFlashCommands, kFlashBaud, kPhaseFlashCommands);
}

void FlashLoader::OnCommandByte(uint8_t byte) {
  if (eraseArmed_ && byte == ERASE_CODE) {
    eraseArmed_ = false;
    BeginEraseCommand();
    return;
  }
  eraseArmed_ = byte == SYNC_CODE;
  const ReceiverConfig& config = core_.Config();
  switch (byte) {
    case VER_QUERY_CODE:
      core_.Reply(config.sfldVersion);
      break;
    case TYPE_QUERY_CODE:
      if (config.typeReplyOverride.empty()) {
        core_.Reply(std::vector<uint8_t>{TYPE_QUERY_CODE, config.flashType});
      } else {
        core_.Reply(config.typeReplyOverride);
      }
      break;
    case BOOT_MODE_CODE:
      if (core_.Plan().Take(FaultKind::kNoBootModeEcho, ReceiverPhase::kFlashCommands, 0)) {
        Fallback("boot-mode command left unanswered");
        return;
      }
      core_.Reply(BOOT_MODE_CODE);
      break;
    case SYNC_CODE:
      break;
    default:
      return;  // not a command: no traffic as far as the SFLD knows
  }
  ArmIdleTimer();
}

void FlashLoader::BeginEraseCommand() {
  if (core_.Plan().Take(FaultKind::kNoEraseSync, ReceiverPhase::kFlashCommands, 0)) {
    Fallback("erase command left unanswered");
    return;
  }
  core_.Reply(SYNC_CODE);
  core_.Enter(Mode::kEraseRecord, kFlashBaud, kPhaseErase);
}

bool FlashLoader::TakeEraseRange(const std::vector<uint8_t>& payload, uint16_t words,
                                 uint32_t address, uint8_t* errorByte, std::string* reason) {
  constexpr uint16_t kEraseWords = 4;
  if (words != kEraseWords) {
    *errorByte = BAD_LENGTH;
    *reason = "not an erase range";
    return false;
  }
  const uint32_t end = BigEndianWord(payload, kRecordAddressBytes);
  const Flash& flash = core_.FlashMemory();
  const uint64_t flashEnd = uint64_t{flash.Base()} + flash.Size();
  const bool inside = address >= flash.Base() && end <= flashEnd;
  if (end < address || (end > address && !inside)) {
    *errorByte = BAD_COMMAND;
    *reason = "erase range outside the flash";
    return false;
  }
  eraseStart_ = address;
  eraseEnd_ = end;
  return true;
}

void FlashLoader::EraseTakenRange() {
  core_.Eraser().Start(eraseStart_, eraseEnd_);
}

void FlashLoader::Program(uint32_t address, const std::vector<uint8_t>& payload) {
  // The loader cannot tell a pad byte from data: it programs the whole payload.
  const size_t count = payload.size() - kRecordAddressBytes;
  SimResult& result = core_.Results();
  AppendSegment(result.programmed, address, payload.data() + kRecordAddressBytes, count);
  core_.FlashMemory().Program(address, payload.data() + kRecordAddressBytes, count, core_.Now(),
                              result.flashFaults);
}

void FlashLoader::NoteCompletion() {
  SimResult& result = core_.Results();
  result.updateCompleted = true;
  ++result.completedUpdates;
  result.completedNs = core_.TxIdleAt();
  core_.Event("update complete: " + std::to_string(SegmentBytes(result.programmed)) + " bytes");
}

void FlashLoader::CompleteUpdate() {
  NoteCompletion();
  // The SFLD restarts the receiver, which now runs the new firmware.
  core_.SwitchAt(core_.TxIdleAt() + UsToNs(core_.Times().rebootUs), Mode::kApplication,
                 core_.Config().powerOnBaud, kPhaseApplication);
}

void FlashLoader::ArmIdleTimer() {
  core_.Timers().Cancel(idleTimer_);
  idleTimer_ = core_.Timers().Schedule(core_.TxIdleAt() + UsToNs(core_.Times().sfldIdleUs),
                                       [this] { IdleTimeout(); });
}

void FlashLoader::CancelIdleTimer() {
  core_.Timers().Cancel(idleTimer_);
}

void FlashLoader::Interrupt() {
  idleTimer_ = Timeline::kNoTimer;
  eraseArmed_ = false;
}

void FlashLoader::IdleTimeout() {
  idleTimer_ = Timeline::kNoTimer;
  if (!InFlashStage(core_.CurrentMode())) return;
  // Its own work (a verdict, a silence, an erase) is no reason to give up on the host.
  if (core_.Exchange().Busy() || core_.Silent() || core_.CurrentMode() == Mode::kErasing) {
    ArmIdleTimer();
    return;
  }
  Fallback("no traffic for " + std::to_string(core_.Times().sfldIdleUs / 1000) + " ms");
}

void FlashLoader::Fallback(const std::string& why) {
  core_.Event("SFLD back to 19200: " + why);
  CancelIdleTimer();
  core_.Exchange().Abandon();
  eraseArmed_ = false;
  core_.SwitchAt(core_.TxIdleAt(), Mode::kSfldPoll, kBootLoaderBaud, kPhaseSfld);
}

}  // namespace gpsfw::sim
