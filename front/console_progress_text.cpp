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

// "  waiting for the verdict on record 0x10002800, 12 s" while a wait goes on.
void ConsoleProgress::WaitText(char* out, size_t capacity) const {
  if (capacity > 0) out[0] = '\0';
  const uint64_t now = platform::NowUs();
  if (!waiting_ || now - waitSeenUs_ > kWaitShownUs) return;
  const uint64_t seconds = now > waitSinceUs_ ? (now - waitSinceUs_) / 1000000 : 0;
  std::snprintf(out, capacity, "  waiting for %s, %" PRIu64 " s", waitWhat_, seconds);
}

}  // namespace gpsfw
