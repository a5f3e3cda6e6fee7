#include "sim/receiver_core.h"

#include <algorithm>
#include <cstdio>

#include "protocol/link_codes.h"
#include "sim/uart.h"

namespace gpsfw::sim {
namespace {

constexpr size_t kWakeLength = sizeof WAKE_SEQUENCE;
// A UART cannot send faster than its line: chatter or garbage beyond a second's worth of
// bytes waiting to go out is not produced.
constexpr SimTime kLongestBacklogNs = kNsPerSecond;

// A position fix as the application reports it once a second; the checksum is appended.
constexpr const char* kChatterBody =
    "GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,";

std::string NmeaSentence(const char* body) {
  uint8_t sum = 0;
  for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<uint8_t>(*c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return std::string("$") + body + tail;
}

}  // namespace

ReceiverCore::ReceiverCore(const ReceiverConfig& config)
    : config_(config), faults_(config.faults), flash_(config.flash), random_(config.faults.seed) {
  if (faults_.powerOnMs == 0) {
    PowerOn();
    return;
  }
  Enter(Mode::kOff, 0, kPhaseOff);
  Schedule(MsToNs(faults_.powerOnMs), [this] { PowerOn(); });
}

ReceiverCore::TimerId ReceiverCore::Schedule(SimTime at, Action action) {
  const TimerId id{std::max(at, now_), nextSequence_++};
  timers_.emplace(id, std::move(action));
  return id;
}

void ReceiverCore::Cancel(TimerId& id) {
  timers_.erase(id);
  id = kNoTimer;
}

void ReceiverCore::AdvanceTo(SimTime t) {
  while (!timers_.empty() && timers_.begin()->first.first <= t) {
    auto node = timers_.extract(timers_.begin());
    now_ = std::max(now_, node.key().first);
    node.mapped()();
  }
  now_ = std::max(now_, t);
}

SimTime ReceiverCore::NextEventNs() const {
  SimTime next = timers_.empty() ? kNever : timers_.begin()->first.first;
  if (!tx_.empty()) next = std::min(next, tx_.front().endNs);
  return next;
}

bool ReceiverCore::TakeOutput(TxByte& out) {
  if (tx_.empty() || tx_.front().endNs > now_) return false;
  out = tx_.front();
  tx_.pop_front();
  return true;
}

SimTime ReceiverCore::TxIdleAt() const {
  return std::max(now_, txBusyUntil_);
}

void ReceiverCore::Send(const uint8_t* bytes, size_t count, SimTime notBefore) {
  for (size_t i = 0; i < count; ++i) {
    TxByte out;
    out.byte = bytes[i];
    out.baud = baud_;
    out.startNs = std::max(notBefore, txBusyUntil_);
    out.endNs = out.startNs + ByteTimeNs(baud_);
    txBusyUntil_ = out.endNs;
    tx_.push_back(out);
  }
  if (InFlashStage()) ArmIdleTimer();
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

void ReceiverCore::SetMode(Mode mode) {
  mode_ = mode;
  phaseBytes_ = 0;
  ResetTo to = ResetTo::kApplication;
  // The erase counts its sector reports itself.
  if (mode != Mode::kErasing && TakeResetAt(mode, 0, &to)) {
    Schedule(now_, [this, to] { Reset(to); });
  }
}

void ReceiverCore::Enter(Mode mode, uint32_t baud, const char* phase) {
  SetMode(mode);
  baud_ = baud;
  exchange_ = Exchange::kAwaitAnnounce;  // every role starts without a record in hand
  if (mode == Mode::kApplication) wakeWindow_.clear();
  if (InFlashStage()) {
    ArmIdleTimer();
  } else {
    Cancel(idleTimer_);
  }
  if (phase == nullptr) return;
  if (!result_.phases.empty()) result_.phases.back().endNs = now_;
  result_.phases.push_back(Phase{phase, baud, now_, now_});
}

void ReceiverCore::SwitchAt(SimTime at, Mode mode, uint32_t baud, const char* phase,
                            Mode meanwhile) {
  SetMode(meanwhile);
  Schedule(at, [this, mode, baud, phase] { Enter(mode, baud, phase); });
}

void ReceiverCore::Event(const std::string& text) {
  result_.events.push_back({now_, text});
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
  const bool usable = sample.delivered && !sample.framingError && now_ >= silentUntil_;
  if (usable) {
    Dispatch(sample.value, rx.garbled);
  } else if (mode_ == Mode::kApplication) {
    wakeWindow_.clear();
  }
  return rx;
}

void ReceiverCore::Dispatch(uint8_t byte, bool garbled) {
  const Mode heard = mode_;
  const uint32_t position = ++phaseBytes_;
  switch (mode_) {
    case Mode::kApplication:
      ApplicationByte(byte, garbled);
      break;
    case Mode::kBootPoll:
      BootPollByte(byte);
      break;
    case Mode::kSfldUpload:
    case Mode::kEraseRecord:
    case Mode::kFlashRecords:
      RecordByte(byte);
      break;
    case Mode::kSfldPoll:
      SfldPollByte(byte);
      break;
    case Mode::kFlashCommands:
      FlashCommandByte(byte);
      break;
    case Mode::kOff:
    case Mode::kStarting:
    case Mode::kErasing:
      break;
  }
  ResetTo to = ResetTo::kApplication;
  if (TakeResetAt(heard, position, &to)) Reset(to);
}

void ReceiverCore::StartPeriodicWork() {
  if (config_.chatter && config_.timing.chatterPeriodUs > 0) {
    Schedule(InUs(config_.timing.chatterPeriodUs), [this] { Chatter(); });
  }
  if (faults_.garbagePerSecond > 0) {
    Schedule(now_ + static_cast<SimTime>(kNsPerSecond / faults_.garbagePerSecond),
             [this] { Garbage(); });
  }
}

bool ReceiverCore::Backlogged() const {
  return txBusyUntil_ > now_ + kLongestBacklogNs;
}

void ReceiverCore::Chatter() {
  if (mode_ == Mode::kApplication && !Backlogged()) {
    const std::string sentence = NmeaSentence(kChatterBody);
    Send(reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size(), now_);
  }
  Schedule(InUs(config_.timing.chatterPeriodUs), [this] { Chatter(); });
}

void ReceiverCore::Garbage() {
  if ((mode_ == Mode::kApplication || mode_ == Mode::kBootPoll) && !Backlogged()) {
    uint8_t byte = SYNC_CODE;
    while (byte == SYNC_CODE || byte == REC_WAIT_CODE) byte = static_cast<uint8_t>(random_());
    Send(&byte, 1, now_);
  }
  Schedule(now_ + static_cast<SimTime>(kNsPerSecond / faults_.garbagePerSecond),
           [this] { Garbage(); });
}

void ReceiverCore::Interrupt() {
  if (mode_ == Mode::kErasing && !result_.erases.empty()) result_.erases.back().failed = true;
  timers_.clear();
  frameTimer_ = resyncTimer_ = idleTimer_ = kNoTimer;
  // Whatever had not reached the host yet is cut off.
  while (!tx_.empty() && tx_.back().endNs > now_) tx_.pop_back();
  txBusyUntil_ = std::min(txBusyUntil_, now_);
  silentUntil_ = 0;
  exchange_ = Exchange::kAwaitAnnounce;
  decoder_.Reset();
  eraseArmed_ = false;
}

void ReceiverCore::Reset(ResetTo to) {
  Event(to == ResetTo::kApplication ? "reset: power cycle" : "reset: into the boot loader");
  Interrupt();
  if (to == ResetTo::kApplication) {
    EnterApplication();
  } else {
    Enter(Mode::kStarting, kBootLoaderBaud, kPhaseBootLoader);
    SwitchAt(InUs(config_.timing.bootUs), Mode::kBootPoll, kBootLoaderBaud, nullptr);
  }
  StartPeriodicWork();
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
  StartPeriodicWork();
}

void ReceiverCore::EnterApplication() {
  Enter(Mode::kApplication, config_.powerOnBaud, kPhaseApplication);
}

void ReceiverCore::ApplicationByte(uint8_t byte, bool garbled) {
  // Only the wake sequence at the application's own rate counts.
  if (garbled) {
    wakeWindow_.clear();
    return;
  }
  wakeWindow_.push_back(byte);
  if (wakeWindow_.size() > kWakeLength) wakeWindow_.pop_front();
  if (wakeWindow_.size() == kWakeLength &&
      std::equal(wakeWindow_.begin(), wakeWindow_.end(), WAKE_SEQUENCE)) {
    Wake();
  }
}

void ReceiverCore::Wake() {
  Event("wake sequence at " + std::to_string(baud_));
  wakeWindow_.clear();
  Enter(Mode::kStarting, kBootLoaderBaud, kPhaseBootLoader);
  SwitchAt(InUs(config_.timing.bootUs), Mode::kBootPoll, kBootLoaderBaud, nullptr);
}

const char* ReceiverCore::StateName() const {
  switch (mode_) {
    case Mode::kOff:
      return "off";
    case Mode::kApplication:
      return "application";
    case Mode::kStarting:
      return "starting";
    case Mode::kBootPoll:
      return "boot loader";
    case Mode::kSfldUpload:
      return "SFLD upload";
    case Mode::kSfldPoll:
      return "SFLD";
    case Mode::kFlashCommands:
      return "flash commands";
    case Mode::kEraseRecord:
      return "erase record";
    case Mode::kErasing:
      return "erasing";
    case Mode::kFlashRecords:
      return "programming";
  }
  return "unknown";
}

SimResult ReceiverCore::Result() const {
  SimResult result = result_;
  if (!result.phases.empty()) result.phases.back().endNs = now_;
  return result;
}

}  // namespace gpsfw::sim
