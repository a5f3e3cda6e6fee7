#include "front/check_report.h"

#include <cinttypes>
#include <cstring>

#include "front/console_text.h"
#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "update/protocol_floor.h"

namespace gpsfw {
namespace {

// The one refusal of image preparation without a line of its own: an image that does not
// start at PFLD_BASE ends right behind its extent lines.
constexpr char kLastExtentLine[] = "Image Size: ";

void WriteExtent(std::FILE* out, const char* label, const ImageExtent& extent) {
  std::fprintf(out, "%-15s start 0x%08" PRIX32 ", entry 0x%08" PRIX32 ", %" PRIu32 " bytes\n",
               label, extent.start, extent.entry, extent.size);
}

void WriteStage(std::FILE* out, const char* label, const RecordCensus& census, uint32_t baud) {
  std::fprintf(out,
               "%-15s %" PRIu32 " data record%s, %" PRIu64
               " bytes, then the end record, at %" PRIu32 " baud\n",
               label, census.records, census.records == 1 ? "" : "s", census.bytes, baud);
}

}  // namespace

void CheckReport::OnLogLine(const char* line) {
  const size_t length = std::strlen(line);
  if (logCut_ || logUsed_ + length + 2 > kLogCapacity) {
    logCut_ = true;
    return;
  }
  lastLine_ = logUsed_;
  std::memcpy(log_ + logUsed_, line, length);
  logUsed_ += length;
  log_[logUsed_++] = '\n';
  log_[logUsed_] = '\0';
}

void CheckReport::OnWarning(const FailureReason& reason) {
  if (warningCount_ == kMaxWarnings) return;
  std::snprintf(warningCodes_[warningCount_], kCodeCapacity, "%s", reason.code);
  std::snprintf(warnings_[warningCount_], FailureReason::kMessageCapacity, "%s", reason.message);
  ++warningCount_;
}

void CheckReport::WriteWarnings() const {
  for (size_t i = 0; i < warningCount_; ++i) {
    std::fprintf(out_, "%-15s %s\n", "Warning:", warnings_[i]);
  }
}

void CheckReport::WriteStages() const {
  char size[32];
  FormatSize(size, sizeof size, facts_.eraseEnd - facts_.eraseStart);
  std::fprintf(out_, "%-15s 0x%08" PRIX32 " to 0x%08" PRIX32 " (%s)\n",
               "Erase range:", facts_.eraseStart, facts_.eraseEnd, size);
  WriteStage(out_, "SFLD stage:", facts_.sfld, kPollBaud);
  WriteStage(out_, "Flash stage:", facts_.flash, kFlashBaud);
}

void CheckReport::WriteFloor() const {
  const ProtocolFloor floor = FloorOfUpdate(facts_.sfld, facts_.flash, facts_.pfldMode);
  std::fprintf(out_, "%-15s %.1f s at the protocol's floor:\n", "Expected time:", floor.Seconds());
  for (const FloorStep& step : floor.steps) {
    std::fprintf(
        out_, "  %-14s %8.3f s  (%" PRIu64 " bytes on the wire, %" PRIu32 " ms of host pauses)\n",
        step.name, step.Seconds(), step.bytes, step.pauseMs);
  }
  std::fprintf(out_,
               "  Counted: every byte at its line speed (10 bits each), the pauses the host\n"
               "  keeps. Not counted: the receiver's own time (answers, erasing, programming),\n"
               "  its sector reports, its texts beyond \"$VER\".\n");
}

void CheckReport::WriteAccepted() const {
  std::fprintf(out_, "%-15s %s\n", "Image:", facts_.image);
  std::fprintf(out_, "%-15s %s\n", "Image type:", facts_.srecord ? "Motorola S-record" : "binary");
  WriteExtent(out_, "Extent:", facts_.extent);
  std::fprintf(out_, "%-15s %s\n", "PFLD mode:", facts_.pfldMode ? "on" : "off");
  if (facts_.sfldFromTail) {
    std::fprintf(out_, "%-15s the image's tail (copied to %s)\n", "SFLD source:", facts_.sfldPath);
  } else {
    std::fprintf(out_, "%-15s file %s\n", "SFLD source:", facts_.sfldPath);
  }
  WriteExtent(out_, "SFLD extent:", facts_.sfldExtent);
  WriteStages();
  WriteFloor();
  WriteWarnings();
  if (warningCount_ == 0) {
    std::fprintf(out_, "%-15s accepted\n", "Verdict:");
  } else {
    std::fprintf(out_, "%-15s accepted with %zu warning%s\n", "Verdict:", warningCount_,
                 warningCount_ == 1 ? "" : "s");
  }
}

bool CheckReport::StartRefused() const {
  return logUsed_ > 0 &&
         std::strncmp(log_ + lastLine_, kLastExtentLine, sizeof kLastExtentLine - 1) == 0;
}

void CheckReport::WriteRefused(int returnCode) const {
  std::fprintf(out_, "%-15s %s\n", "Image:", facts_.image);
  std::fprintf(out_, "%-15s refused (return code %d)\n", "Verdict:", returnCode);
  WriteWarnings();
  if (StartRefused()) {
    std::fprintf(out_, "%-15s the image does not start at 0x%08" PRIX32 "\n", "Reason:", PFLD_BASE);
  }
  std::fprintf(out_, "Log:\n");
  for (const char* line = log_; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    std::fprintf(out_, "  %.*s\n", static_cast<int>(end - line), line);
    line = end + 1;
  }
  if (logCut_) std::fprintf(out_, "  ...\n");
}

void CheckReport::OnDone(int returnCode) {
  if (json_) {
    WriteJson(returnCode);
  } else if (facts_.prepared && returnCode == 0) {
    WriteAccepted();
  } else {
    WriteRefused(returnCode);
  }
  std::fflush(out_);
}

}  // namespace gpsfw
