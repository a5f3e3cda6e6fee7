#include "sim/receiver_core.h"

#include <algorithm>

#include "sim/uart.h"

namespace gpsfw::sim {

ReceiverCore::ReceiverCore(const ReceiverConfig& config)
    : config_(config),
      plan_(config.faults),
      flash_(config.flash),
      application_(*this, config.faults.seed),
      bootLoader_(*this),
      flashLoader_(*this),
      eraser_(*this),
      exchange_(*this) {
  if (config_.faults.powerOnMs == 0) {
    PowerOn();
    return;
  }
  Enter(Mode::kOff, 0, kPhaseOff);
  timeline_.Schedule(MsToNs(config_.faults.powerOnMs), [this] { PowerOn(); });
}

SimTime ReceiverCore::NextEventNs() const {
  return std::min(timeline_.Next(), tx_.Next());
}

void ReceiverCore::Send(const uint8_t* bytes, size_t count, SimTime notBefore) {
  SendAtRate(bytes, count, baud_, notBefore);
}

void ReceiverCore::SendAtRate(const uint8_t* bytes, size_t count, uint32_t baud,
                              SimTime notBefore) {
  tx_.Send(bytes, count, baud, notBefore);
  // Its own output counts as traffic for the SFLD's idle timer.
  if (InFlashStage(mode_)) flashLoader_.ArmIdleTimer();
}

void ReceiverCore::Reply(const std::string& text) {
  Send(reinterpret_cast<const uint8_t*>(text.data()), text.size(), InUs(config_.timing.replyUs));
}

void ReceiverCore::Reply(const std::vector<uint8_t>& bytes) {
  Send(bytes.data(), bytes.size(), InUs(config_.timing.replyUs));
}

void ReceiverCore::Reply(uint8_t byte) {
  Send(&byte, 1, InUs(config_.timing.replyUs));
}

SimTime ReceiverCore::SilenceFor(int64_t ms) {
  silentUntil_ = Now() + MsToNs(static_cast<uint64_t>(ms));
  return silentUntil_;
}

bool ReceiverCore::TakeResetAt(Mode mode, int64_t position, ResetTo* to) {
  ReceiverPhase phase = ReceiverPhase::kApplication;
  PlannedFault fault;
  if (!PhaseOf(mode, &phase) || !Plan().Take(FaultKind::kResetAt, phase, position, &fault)) {
    return false;
  }
  *to = fault.to;
  return true;
}

void ReceiverCore::SetMode(Mode mode) {
  mode_ = mode;
  phaseBytes_ = 0;
  ResetTo to = ResetTo::kApplication;
  // The erase counts its sector reports itself.
  if (mode != Mode::kErasing && TakeResetAt(mode, 0, &to)) {
    timeline_.Schedule(Now(), [this, to] { Reset(to); });
  }
}

void ReceiverCore::Enter(Mode mode, uint32_t baud, const char* phase) {
  SetMode(mode);
  baud_ = baud;
  exchange_.Restart();  // every role starts without a record in hand
  if (mode == Mode::kApplication) application_.ForgetWakeBytes();
  if (InFlashStage(mode)) {
    flashLoader_.ArmIdleTimer();
  } else {
    flashLoader_.CancelIdleTimer();
  }
  if (phase == nullptr) return;
  if (!result_.phases.empty()) result_.phases.back().endNs = Now();
  result_.phases.push_back(Phase{phase, baud, Now(), Now()});
}

void ReceiverCore::SwitchAt(SimTime at, Mode mode, uint32_t baud, const char* phase,
                            Mode meanwhile) {
  SetMode(meanwhile);
  timeline_.Schedule(at, [this, mode, baud, phase] { Enter(mode, baud, phase); });
}

void ReceiverCore::Event(const std::string& text) {
  result_.events.push_back({Now(), text});
}

RxResult ReceiverCore::OnByte(uint8_t byte, SimTime arrivalNs, uint32_t senderBaud) {
  AdvanceTo(arrivalNs);
  const UartSample sample = SampleByte(byte, senderBaud, baud_);
  RxResult rx;
  rx.listenBaud = baud_;
  rx.garbled = senderBaud != baud_;
  rx.delivered = sample.delivered;
  rx.framingError = sample.framingError;
  rx.value = sample.value;
  // The firmware drops bytes with framing errors; while silent it takes nothing at all.
  const bool usable = sample.delivered && !sample.framingError && !Silent();
  if (usable) {
    Dispatch(sample.value, rx.garbled);
  } else if (mode_ == Mode::kApplication) {
    application_.ForgetWakeBytes();
  }
  return rx;
}

void ReceiverCore::Dispatch(uint8_t byte, bool garbled) {
  const Mode heard = mode_;
  const uint32_t position = ++phaseBytes_;
  switch (mode_) {
    case Mode::kApplication:
      application_.OnByte(byte, garbled);
      break;
    case Mode::kBootPoll:
      bootLoader_.OnPollByte(byte);
      break;
    case Mode::kSfldUpload:
    case Mode::kEraseRecord:
    case Mode::kFlashRecords:
      exchange_.OnByte(byte);
      break;
    case Mode::kSfldPoll:
      flashLoader_.OnPollByte(byte);
      break;
    case Mode::kFlashCommands:
      flashLoader_.OnCommandByte(byte);
      break;
    case Mode::kOff:
    case Mode::kStarting:
    case Mode::kErasing:
      break;
  }
  ResetTo to = ResetTo::kApplication;
  if (TakeResetAt(heard, position, &to)) Reset(to);
}

void ReceiverCore::Interrupt() {
  if (mode_ == Mode::kErasing && !result_.erases.empty()) result_.erases.back().failed = true;
  timeline_.Clear();
  exchange_.Interrupt();
  flashLoader_.Interrupt();
  tx_.CutOff(Now());
  silentUntil_ = 0;
}

void ReceiverCore::Reset(ResetTo to) {
  Event(to == ResetTo::kApplication ? "reset: power cycle" : "reset: into the boot loader");
  Interrupt();
  if (to == ResetTo::kApplication) {
    EnterApplication();
  } else {
    bootLoader_.Start();
  }
  application_.StartPeriodicWork();
}

void ReceiverCore::PowerOff() {
  if (mode_ == Mode::kOff) return;
  Event("power off");
  Interrupt();
  Enter(Mode::kOff, 0, kPhaseOff);
}

void ReceiverCore::PowerOn() {
  if (mode_ != Mode::kOff) return;
  if (!result_.phases.empty()) Event("power on");
  EnterApplication();
  application_.StartPeriodicWork();
}

void ReceiverCore::EnterApplication() {
  Enter(Mode::kApplication, config_.powerOnBaud, kPhaseApplication);
}

SimResult ReceiverCore::Result() const {
  SimResult result = result_;
  if (!result.phases.empty()) result.phases.back().endNs = Now();
  return result;
}

}  // namespace gpsfw::sim
