#include "front/console_progress.h"

#include <cinttypes>
#include <cstring>

#include "front/console_text.h"
#include "front/protocol_names.h"
#include "platform/clock.h"
#include "protocol/host_timing.h"

namespace gpsfw {
namespace {

// While nothing else changes, the status line is redrawn this often so that its clock runs.
constexpr uint64_t kClockRedrawUs = 1000000;
constexpr int kDeciles = 10;
// Rounds of wake-ups without a byte from the receiver before the console says what to check.
constexpr int kSilentWakesBeforeHint = 3;
// A wait in a pipe is told after this long, then at every whole multiple of the period.
constexpr uint64_t kPlainWaitFirstSeconds = 5;
constexpr uint64_t kPlainWaitEverySeconds = 10;

constexpr char kColourWarning[] = "\x1b[33m";
constexpr char kColourGood[] = "\x1b[32m";
constexpr char kColourBad[] = "\x1b[31m";
constexpr char kColourEnd[] = "\x1b[0m";
constexpr char kEraseToEnd[] = "\x1b[K";

}  // namespace

void ConsoleProgress::DrawStatus() {
  StatusFields fields;
  StatusText(fields);
  const int width = setup_.widthFd >= 0 ? TerminalColumns(setup_.widthFd) : setup_.width;
  // The last column stays free: writing into it makes some terminals wrap at once.
  char text[kTextCapacity];
  const size_t columns =
      fields.Fit(text, sizeof text, width > 1 ? static_cast<size_t>(width - 1) : 1);
  std::fputc('\r', out_);
  std::fputs(text, out_);
  if (setup_.ansi) {
    std::fputs(kEraseToEnd, out_);
  } else {
    for (size_t i = columns; i < drawnColumns_; ++i) std::fputc(' ', out_);
  }
  std::fflush(out_);
  drawnColumns_ = columns;
  drawnAtUs_ = platform::NowUs();
  statusShown_ = true;
}

void ConsoleProgress::ClearStatus() {
  if (!statusShown_) return;
  std::fputc('\r', out_);
  if (setup_.ansi) {
    std::fputs(kEraseToEnd, out_);
  } else {
    for (size_t i = 0; i < drawnColumns_; ++i) std::fputc(' ', out_);
    std::fputc('\r', out_);
  }
  statusShown_ = false;
  drawnColumns_ = 0;
}

// A line of its own above the status line (live) or among the plain lines. On a terminal
// too it carries the time since the start, so that a retry can be told apart from the next
// one; the summary holds its own duration.
void ConsoleProgress::Line(const char* text, const char* colour, bool stamped) {
  if (setup_.mode == ConsoleMode::kOff) return;
  if (!Live()) {
    PlainLine(text);
    return;
  }
  ClearStatus();
  char stamp[40] = "";
  if (stamped) {
    FormatDuration(stamp, sizeof stamp, facts_.SinceStartUs());
    Append(stamp, sizeof stamp, "  ");
  }
  const bool coloured = setup_.colour && colour != nullptr;
  std::fprintf(out_, "%s%s%s%s\n", stamp, coloured ? colour : "", text, coloured ? kColourEnd : "");
  if (phase_ != UpdatePhase::kDone) DrawStatus();
  std::fflush(out_);
}

void ConsoleProgress::PlainLine(const char* text) {
  char duration[32];
  FormatDuration(duration, sizeof duration, facts_.SinceStartUs());
  std::fprintf(out_, "%s  %s\n", duration, text);
  std::fflush(out_);
}

void ConsoleProgress::OnPhase(UpdatePhase phase) {
  if (phaseKnown_ && phase == phase_) return;
  if (phase_ == UpdatePhase::kErasing && phase == UpdatePhase::kProgramming) {
    sectorsOfLastErase_ = sectors_;
  }
  if (phase == UpdatePhase::kPortLost) phaseBeforeLoss_ = phase_;
  phaseKnown_ = true;
  phase_ = phase;
  if (phase == UpdatePhase::kSfldUpload) sfldRecordsDone_ = 0;
  if (phase == UpdatePhase::kWaitingForSfld || phase == UpdatePhase::kFlashQueries) {
    sfldStarted_ = true;
  }
  if (phase == UpdatePhase::kErasing) {
    sectors_ = 0;
    flashTouched_ = true;
  }
  waiting_ = false;
  if (phase == UpdatePhase::kProgramming) {
    flashBytesDone_ = 0;
    programmingStartUs_ = platform::NowUs();
    programmingEndUs_ = 0;
    decileShown_ = 0;
  }
  if (phase == UpdatePhase::kSfldUpload || phase == UpdatePhase::kFlashQueries) {
    failurePending_ = false;
  }
  // A wake-up is shown once its number is known; a lost port has had its line (OnPortLost),
  // which a plain console would otherwise print twice.
  if (phase == UpdatePhase::kDone || phase == UpdatePhase::kWaking) return;
  if (phase == UpdatePhase::kPortLost && !Live()) return;
  ShowPhase();
}

void ConsoleProgress::ShowPhase() {
  if (Live()) {
    DrawStatus();
  } else if (setup_.mode == ConsoleMode::kPlain) {
    char text[kTextCapacity];
    PhaseLine(text, sizeof text);
    PlainLine(text);
  }
}

void ConsoleProgress::OnWake(int count) {
  wakes_ = count;
  waiting_ = false;
  if (silentWakes_ == kSilentWakesBeforeHint) {
    char text[kTextCapacity];
    if (facts_.portHolders[0] != '\0') {
      std::snprintf(text, sizeof text,
                    "the receiver does not answer on %s: %s hold%s the port open too and may "
                    "take its answers; else check its power, the cable, the port (-p) and the "
                    "line speed its application uses",
                    facts_.port, facts_.portHolders,
                    std::strchr(facts_.portHolders, ',') != nullptr ? "" : "s");
    } else {
      std::snprintf(text, sizeof text,
                    "the receiver does not answer on %s: check its power, the cable, the port "
                    "(-p) and the line speed its application uses",
                    facts_.port);
    }
    Line(text, kColourWarning);
  }
  ++silentWakes_;
  ShowPhase();
}

void ConsoleProgress::OnWaiting(const char* what, uint64_t sinceUs) {
  char awaited[sizeof waitWhat_];
  std::snprintf(awaited, sizeof awaited, "%s", what);
  if (!waiting_ || sinceUs != waitSinceUs_ || std::strcmp(awaited, waitWhat_) != 0) {
    waitShownSeconds_ = 0;
  }
  std::memcpy(waitWhat_, awaited, sizeof waitWhat_);
  waitSinceUs_ = sinceUs;
  waitSeenUs_ = platform::NowUs();
  waiting_ = true;
  if (Live()) {
    DrawStatus();
  } else if (setup_.mode == ConsoleMode::kPlain) {
    ShowPlainWait();
  }
}

// A pipe has no status line: a long wait gets a line of its own once it has lasted a while
// and then now and then, so that a script's log never looks hung.
void ConsoleProgress::ShowPlainWait() {
  const uint64_t seconds = WaitSeconds(platform::NowUs());
  const uint64_t due = waitShownSeconds_ == 0 ? kPlainWaitFirstSeconds
                                              : (waitShownSeconds_ / kPlainWaitEverySeconds + 1) *
                                                    kPlainWaitEverySeconds;
  if (seconds < due) return;
  waitShownSeconds_ = seconds;
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "waiting for %s, %" PRIu64 " s", waitWhat_, seconds);
  PlainLine(text);
}

void ConsoleProgress::TakeFlashRecord(const RecordReport& record) {
  if (record.attempt != flashAttempt_) {
    flashAttempt_ = record.attempt;
    flashBytesDone_ = 0;
  }
  if (record.outcome != RecordOutcome::kAccepted) return;
  flashBytesDone_ += record.dataBytes;
  if (record.index == kEndRecordIndex) programmingEndUs_ = platform::NowUs();
}

void ConsoleProgress::ShowPlainDecile() {
  const uint64_t total = facts_.flash.bytes;
  const int decile = total == 0 ? kDeciles : static_cast<int>(flashBytesDone_ * kDeciles / total);
  if (decile <= decileShown_) return;
  decileShown_ = decile;
  StatusFields fields;
  ProgrammingText(fields);
  char text[kTextCapacity];
  fields.Join(text, sizeof text);
  PlainLine(text);
}

void ConsoleProgress::OnRecord(const RecordReport& record) {
  waiting_ = false;
  if (record.outcome != RecordOutcome::kAccepted) {
    failurePending_ = true;
    failure_ = record;
  }
  if (record.stage == RecordStage::kSfld) {
    if (record.outcome == RecordOutcome::kAccepted && record.index >= 0) ++sfldRecordsDone_;
  } else if (record.index != kEraseRecordIndex) {
    TakeFlashRecord(record);
    if (setup_.mode == ConsoleMode::kPlain && record.index >= 0) ShowPlainDecile();
  }
  if (Live()) DrawStatus();
}

void ConsoleProgress::OnSectorErased(uint32_t count) {
  sectors_ = count;
  if (Live()) DrawStatus();
}

void ConsoleProgress::OnRetry(const char* what, const char* next) {
  ++retries_;
  char text[kTextCapacity];
  FailureText(text, sizeof text, what, next);
  failurePending_ = false;
  Line(text, kColourWarning);
}

void ConsoleProgress::OnPortLost() {
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "port %s lost, waiting for it to come back", facts_.port);
  Line(text, kColourWarning);
}

void ConsoleProgress::OnPortBack() {
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "port %s is back", facts_.port);
  // The loader goes on where the port was lost, until the core tells of a new phase.
  if (phase_ == UpdatePhase::kPortLost) phase_ = phaseBeforeLoss_;
  Line(text, kColourWarning);
}

void ConsoleProgress::OnLineError(uint32_t flags) {
  const char* names[kLineErrorKinds];
  const size_t count = LineErrorNames(flags, names);
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "line error 0x%08" PRIX32 ":", flags);
  for (size_t i = 0; i < count; ++i) Append(text, sizeof text, " %s", names[i]);
  Line(text, kColourWarning);
}

void ConsoleProgress::OnWire(WireDirection direction, const uint8_t* /*bytes*/, size_t count,
                             uint32_t /*baud*/) {
  if (direction == WireDirection::kFromTarget && count > 0) silentWakes_ = 0;
  if (Live() && statusShown_ && platform::NowUs() - drawnAtUs_ >= kClockRedrawUs) DrawStatus();
}

// The first failure is the run's cause; what follows from it would only repeat it.
void ConsoleProgress::OnFailure(const FailureReason& reason) {
  if (failureShown_) return;
  failureShown_ = true;
  Line(reason.message, kColourBad);
}

void ConsoleProgress::OnWarning(const FailureReason& reason) {
  char text[kTextCapacity + FailureReason::kMessageCapacity];
  std::snprintf(text, sizeof text, "warning: %s", reason.message);
  Line(text, kColourWarning);
}

void ConsoleProgress::OnDone(int returnCode) {
  phase_ = UpdatePhase::kDone;
  char text[kTextCapacity];
  SummaryText(text, sizeof text, returnCode);
  Line(text, returnCode == 0 ? kColourGood : kColourBad, false);
  // A run that ended after the erase began leaves the receiver without whole firmware.
  if (returnCode != 0 && flashTouched_) {
    Line("the receiver's flash is incomplete: it must be updated again before it is used",
         kColourBad, false);
  }
}

}  // namespace gpsfw
