#include <cinttypes>
#include <cstring>

#include "front/console_progress.h"  // IWYU pragma: associated
#include "front/console_text.h"
#include "front/protocol_names.h"
#include "platform/clock.h"
#include "protocol/host_timing.h"

// The texts of the console progress: the status line's phase, programming and erase
// pieces, the wait under way, a retry's line and the summary.
namespace gpsfw {
namespace {

// A wait is shown while the core reports it; it reports about once a second.
constexpr uint64_t kWaitShownUs = 2500000;

// How much a person watching needs each piece of the status line that may give way on a
// narrow terminal: the wait under way says the run is alive, the clock since the start
// comes next; the share of the line's speed is the first to go.
constexpr int kUseOfWait = 5;
constexpr int kUseOfClock = 4;
constexpr int kUseOfBytes = 3;
constexpr int kUseOfRange = 3;
constexpr int kUseOfRate = 2;
constexpr int kUseOfLineShare = 1;

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

void ConsoleProgress::ProgrammingText(StatusFields& fields) const {
  const uint64_t total = facts_.flash.bytes;
  const uint64_t percent = total == 0 ? 100 : flashBytesDone_ * 100 / total;
  fields.Add(StatusFields::kAlways, "programming %3" PRIu64 "%%", percent);
  fields.Add(kUseOfBytes, "  %" PRIu64 "/%" PRIu64 " bytes", flashBytesDone_, total);
  const double rate = ProgrammingRate();
  if (rate <= 0) return;
  char text[32];
  FormatRate(text, sizeof text, rate);
  fields.Add(kUseOfRate, "  %s", text);
  fields.Add(kUseOfLineShare, "  %.0f%% of line", 100 * rate / LineBytesPerSecond(kFlashBaud));
  FormatDuration(text, sizeof text,
                 static_cast<uint64_t>(static_cast<double>(total - flashBytesDone_) / rate * 1e6));
  fields.Add(StatusFields::kAlways, "  %s left", text);
}

// The counter first, so that a narrow terminal still shows it.
void ConsoleProgress::EraseText(StatusFields& fields) const {
  char range[64];
  char size[32];
  FormatSize(size, sizeof size, facts_.eraseEnd - facts_.eraseStart);
  std::snprintf(range, sizeof range, "0x%08" PRIX32 "-0x%08" PRIX32 " (%s)", facts_.eraseStart,
                facts_.eraseEnd, size);
  if (!Live()) {
    fields.Add(StatusFields::kAlways, "erasing %s", range);
    return;
  }
  char sectors[48];
  std::snprintf(sectors, sizeof sectors, "erasing  sectors %" PRIu32, sectors_);
  if (sectorsOfLastErase_ != 0) Append(sectors, sizeof sectors, "/%" PRIu32, sectorsOfLastErase_);
  fields.Add(StatusFields::kAlways, "%s", sectors);
  fields.Add(kUseOfRange, "  %s", range);
}

void ConsoleProgress::PhaseText(StatusFields& fields) const {
  switch (phase_) {
    case UpdatePhase::kPreparing:
      fields.Add(StatusFields::kAlways, "checking the image");
      return;
    case UpdatePhase::kWaking:
      fields.Add(StatusFields::kAlways, "waking the receiver (wake-up %d)", wakes_);
      return;
    case UpdatePhase::kPolling:
      fields.Add(StatusFields::kAlways, "waiting for the %s (wake-up %d)",
                 sfldStarted_ ? "receiver" : "boot loader", wakes_);
      return;
    case UpdatePhase::kSfldUpload:
      fields.Add(StatusFields::kAlways, "SFLD upload  record %" PRIu32 "/%" PRIu32,
                 sfldRecordsDone_, facts_.sfld.records);
      return;
    case UpdatePhase::kWaitingForSfld:
      fields.Add(StatusFields::kAlways, "waiting for the SFLD to start");
      return;
    case UpdatePhase::kFlashQueries:
      fields.Add(StatusFields::kAlways, "asking the SFLD for its version and flash type");
      return;
    case UpdatePhase::kErasing:
      EraseText(fields);
      return;
    case UpdatePhase::kProgramming:
      ProgrammingText(fields);
      return;
    case UpdatePhase::kPortLost:
      fields.Add(StatusFields::kAlways, "port %s lost, waiting for it to come back", facts_.port);
      return;
    case UpdatePhase::kDone:
      return;
  }
}

// The status line: the clock since the start, the phase, the wait under way.
void ConsoleProgress::StatusText(StatusFields& fields) const {
  char duration[32];
  FormatDuration(duration, sizeof duration, facts_.SinceStartUs());
  fields.Add(kUseOfClock, "%s  ", duration);
  PhaseText(fields);
  WaitText(fields);
}

void ConsoleProgress::PhaseLine(char* out, size_t capacity) const {
  StatusFields fields;
  PhaseText(fields);
  fields.Join(out, capacity);
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

// "  waiting for the verdict on record 0x10002800, 12 s" while a wait goes on.
void ConsoleProgress::WaitText(StatusFields& fields) const {
  const uint64_t now = platform::NowUs();
  if (!waiting_ || now - waitSeenUs_ > kWaitShownUs) return;
  fields.Add(kUseOfWait, "  waiting for %s, %" PRIu64 " s", waitWhat_, WaitSeconds(now));
}

uint64_t ConsoleProgress::WaitSeconds(uint64_t now) const {
  return now > waitSinceUs_ ? (now - waitSinceUs_) / 1000000 : 0;
}

}  // namespace gpsfw
