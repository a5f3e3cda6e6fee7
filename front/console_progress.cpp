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

constexpr char kColourWarning[] = "\x1b[33m";
constexpr char kColourGood[] = "\x1b[32m";
constexpr char kColourBad[] = "\x1b[31m";
constexpr char kColourEnd[] = "\x1b[0m";
constexpr char kEraseToEnd[] = "\x1b[K";

const char* ResultText(int returnCode) {
  switch (returnCode) {
    case 0:
      return "update complete";
    case -2:
      return "serial port cannot be opened";
    case -3:
      return "image refused";
    case -5:
      return "progress log cannot be opened";
    case -6:
      return "no image given (-i)";
    default:
      return "update ended";
  }
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr && slash[1] != '\0' ? slash + 1 : path;
}

void RecordName(char* out, size_t capacity, const RecordReport& record) {
  if (record.index == kEndRecordIndex) {
    std::snprintf(out, capacity, "end record");
  } else if (record.index == kEraseRecordIndex) {
    std::snprintf(out, capacity, "erase record 0x%08" PRIX32, record.address);
  } else {
    std::snprintf(out, capacity, "record 0x%08" PRIX32, record.address);
  }
}

}  // namespace

double ConsoleProgress::ProgrammingRate() const {
  const uint64_t end = programmingEndUs_ != 0 ? programmingEndUs_ : platform::NowUs();
  if (flashBytesDone_ == 0 || end <= programmingStartUs_) return 0;
  return static_cast<double>(flashBytesDone_) * 1e6 /
         static_cast<double>(end - programmingStartUs_);
}

void ConsoleProgress::ProgrammingText(char* out, size_t capacity) const {
  const uint64_t total = facts_.flash.bytes;
  const uint64_t percent = total == 0 ? 100 : flashBytesDone_ * 100 / total;
  std::snprintf(out, capacity, "programming %3" PRIu64 "%%  %" PRIu64 "/%" PRIu64 " bytes", percent,
                flashBytesDone_, total);
  const double rate = ProgrammingRate();
  if (rate <= 0) return;
  char text[32];
  FormatRate(text, sizeof text, rate);
  Append(out, capacity, "  %s  %.0f%% of line", text, 100 * rate / LineBytesPerSecond(kFlashBaud));
  FormatDuration(text, sizeof text,
                 static_cast<uint64_t>(static_cast<double>(total - flashBytesDone_) / rate * 1e6));
  Append(out, capacity, "  %s left", text);
}

// The counter first, so that a narrow terminal still shows it.
void ConsoleProgress::EraseText(char* out, size_t capacity) const {
  char size[32];
  FormatSize(size, sizeof size, facts_.eraseEnd - facts_.eraseStart);
  std::snprintf(out, capacity, "erasing ");
  if (Live()) {
    Append(out, capacity, " sectors %" PRIu32, sectors_);
    if (sectorsOfLastErase_ != 0) Append(out, capacity, "/%" PRIu32, sectorsOfLastErase_);
    Append(out, capacity, "  ");
  }
  Append(out, capacity, "0x%08" PRIX32 "-0x%08" PRIX32 " (%s)", facts_.eraseStart, facts_.eraseEnd,
         size);
}

void ConsoleProgress::PhaseText(char* out, size_t capacity) const {
  switch (phase_) {
    case UpdatePhase::kPreparing:
      std::snprintf(out, capacity, "checking the image");
      return;
    case UpdatePhase::kWaking:
      std::snprintf(out, capacity, "waking the receiver (wake-up %d)", wakes_);
      return;
    case UpdatePhase::kPolling:
      std::snprintf(out, capacity, "waiting for the %s (wake-up %d)",
                    sfldStarted_ ? "receiver" : "boot loader", wakes_);
      return;
    case UpdatePhase::kSfldUpload:
      std::snprintf(out, capacity, "SFLD upload  record %" PRIu32 "/%" PRIu32, sfldRecordsDone_,
                    facts_.sfld.records);
      return;
    case UpdatePhase::kWaitingForSfld:
      std::snprintf(out, capacity, "waiting for the SFLD to start");
      return;
    case UpdatePhase::kFlashQueries:
      std::snprintf(out, capacity, "asking the SFLD for its version and flash type");
      return;
    case UpdatePhase::kErasing:
      EraseText(out, capacity);
      return;
    case UpdatePhase::kProgramming:
      ProgrammingText(out, capacity);
      return;
    case UpdatePhase::kPortLost:
      std::snprintf(out, capacity, "port %s lost, waiting for it to come back", facts_.port);
      return;
    case UpdatePhase::kDone:
      out[0] = '\0';
      return;
  }
}

void ConsoleProgress::FailureText(char* out, size_t capacity, const char* what,
                                  const char* next) const {
  if (!failurePending_) {
    std::snprintf(out, capacity, "%s, %s", what, next);
    return;
  }
  char name[48];
  RecordName(name, sizeof name, failure_);
  switch (failure_.outcome) {
    case RecordOutcome::kRejected:
      std::snprintf(out, capacity, "%s rejected: %s, %s", name, OutcomeName(failure_), next);
      return;
    case RecordOutcome::kNoRequest:
      std::snprintf(out, capacity, "%s not asked for by the receiver, %s", name, next);
      return;
    default:
      std::snprintf(out, capacity, "%s got no verdict, %s", name, next);
      return;
  }
}

void ConsoleProgress::SummaryText(char* out, size_t capacity, int returnCode) const {
  char duration[32];
  FormatDuration(duration, sizeof duration, facts_.SinceStartUs());
  std::snprintf(out, capacity, "%s: ", ResultText(returnCode));
  if (facts_.image[0] != '\0') Append(out, capacity, "%s on ", BaseName(facts_.image));
  Append(out, capacity, "%s in %s, %d %s", facts_.port, duration, retries_,
         retries_ == 1 ? "retry" : "retries");
  const double rate = ProgrammingRate();
  if (rate > 0) {
    char text[32];
    FormatRate(text, sizeof text, rate);
    Append(out, capacity, ", %s average", text);
  }
  if (returnCode != 0) Append(out, capacity, " (return code %d)", returnCode);
}

void ConsoleProgress::DrawStatus() {
  char text[kTextCapacity];
  char duration[32];
  FormatDuration(duration, sizeof duration, facts_.SinceStartUs());
  std::snprintf(text, sizeof text, "%s  ", duration);
  PhaseText(text + std::strlen(text), sizeof text - std::strlen(text));
  const int width = setup_.widthFd >= 0 ? TerminalColumns(setup_.widthFd) : setup_.width;
  // The last column stays free: writing into it makes some terminals wrap at once.
  const size_t columns = CutToColumns(text, width > 1 ? static_cast<size_t>(width - 1) : 1);
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

// A line of its own above the status line (live) or among the plain lines.
void ConsoleProgress::Line(const char* text, const char* colour) {
  if (setup_.mode == ConsoleMode::kOff) return;
  if (!Live()) {
    PlainLine(text);
    return;
  }
  ClearStatus();
  const bool coloured = setup_.colour && colour != nullptr;
  std::fprintf(out_, "%s%s%s\n", coloured ? colour : "", text, coloured ? kColourEnd : "");
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
  if (phase == UpdatePhase::kErasing) sectors_ = 0;
  if (phase == UpdatePhase::kProgramming) {
    flashBytesDone_ = 0;
    programmingStartUs_ = platform::NowUs();
    programmingEndUs_ = 0;
    decileShown_ = 0;
  }
  if (phase == UpdatePhase::kSfldUpload || phase == UpdatePhase::kFlashQueries) {
    failurePending_ = false;
  }
  // A wake-up is shown once its number is known.
  if (phase == UpdatePhase::kDone || phase == UpdatePhase::kWaking) return;
  ShowPhase();
}

void ConsoleProgress::ShowPhase() {
  if (Live()) {
    DrawStatus();
  } else if (setup_.mode == ConsoleMode::kPlain) {
    char text[kTextCapacity];
    PhaseText(text, sizeof text);
    PlainLine(text);
  }
}

void ConsoleProgress::OnWake(int count) {
  wakes_ = count;
  ShowPhase();
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
  char text[kTextCapacity];
  ProgrammingText(text, sizeof text);
  PlainLine(text);
}

void ConsoleProgress::OnRecord(const RecordReport& record) {
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

void ConsoleProgress::OnWire(WireDirection /*direction*/, const uint8_t* /*bytes*/,
                             size_t /*count*/, uint32_t /*baud*/) {
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
  Line(text, returnCode == 0 ? kColourGood : kColourBad);
}

}  // namespace gpsfw
