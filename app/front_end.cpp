#include "app/front_end.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "platform/clock.h"

namespace gpsfw {
namespace {

// The port the run sequence opens when the command line names none.
constexpr char kDefaultPortName[] = "GPS1:";
constexpr char kStandardOutput[] = "-";

}  // namespace

FrontEnd::~FrontEnd() {
  if (installed_) InstallObserver(nullptr);
}

bool FrontEnd::OpenOutput(const char* path, const char* what, File& file, std::FILE** stream) {
  if (path == nullptr) return true;
  if (strcmp(path, kStandardOutput) == 0) {
    *stream = stdout;
    return true;
  }
  file.reset(std::fopen(path, "we"));
  if (!file) {
    std::fprintf(stderr, "gpsfwload: cannot write the %s to '%s': %s\n", what, path,
                 strerror(errno));
    return false;
  }
  *stream = file.get();
  return true;
}

bool FrontEnd::Configure(const LoaderOptions& options) {
  FrontEndOutputs outputs;
  if (!OpenOutput(options.events, "event stream", eventsFile_, &outputs.events) ||
      !OpenOutput(options.trace, "wire trace", traceFile_, &outputs.trace)) {
    return false;
  }
  if (options.check) {
    outputs.check = stdout;
  } else {
    outputs.console = stderr;
    outputs.consoleSetup = DetectConsole(STDERR_FILENO, options.quiet, options.progress);
  }
  Attach(options.image, options.port, outputs);
  return true;
}

void FrontEnd::Add(Observer* view) {
  if (viewCount_ < kViews) views_[viewCount_++] = view;
}

void FrontEnd::Attach(const char* image, const char* port, const FrontEndOutputs& outputs) {
  facts_.image = image != nullptr ? image : "";
  facts_.port = port != nullptr ? port : kDefaultPortName;
  if (outputs.console != nullptr && outputs.consoleSetup.mode != ConsoleMode::kOff) {
    Add(&console_.emplace(outputs.console, outputs.consoleSetup, facts_));
  }
  if (outputs.events != nullptr) Add(&events_.emplace(outputs.events, facts_));
  if (outputs.trace != nullptr) Add(&trace_.emplace(outputs.trace, facts_));
  if (outputs.check != nullptr) Add(&check_.emplace(outputs.check, facts_));
}

void FrontEnd::Install() {
  facts_.startUs = platform::NowUs();
  InstallObserver(this);
  installed_ = true;
}

void FrontEnd::OnPrepared() {
  TakePreparedFacts(facts_);
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPrepared();
}

void FrontEnd::OnSfldSource(bool fromTail, const char* path) {
  TakeSfldSource(facts_, fromTail, path);
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnSfldSource(fromTail, path);
}

void FrontEnd::OnPhase(UpdatePhase phase) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPhase(phase);
}

// The core counts wake-ups and attempts for the life of the process; the views count them
// within this run, from 1.
void FrontEnd::OnWake(int count) {
  if (firstWake_ == 0) firstWake_ = count;
  const int inRun = count - firstWake_ + 1;
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnWake(inRun);
}

void FrontEnd::OnRecord(const RecordReport& record) {
  int& first = record.stage == RecordStage::kSfld ? firstSfldAttempt_ : firstFlashAttempt_;
  if (first == 0) first = record.attempt;
  RecordReport inRun = record;
  inRun.attempt = record.attempt - first + 1;
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnRecord(inRun);
}

void FrontEnd::OnSectorErased(uint32_t count) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnSectorErased(count);
}

void FrontEnd::OnRetry(const char* what, const char* next) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnRetry(what, next);
}

void FrontEnd::OnPortLost() {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPortLost();
}

void FrontEnd::OnPortBack() {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPortBack();
}

void FrontEnd::OnLineError(uint32_t flags) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnLineError(flags);
}

void FrontEnd::OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnWire(direction, bytes, count, baud);
}

void FrontEnd::OnLogLine(const char* line) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnLogLine(line);
}

void FrontEnd::OnDone(int returnCode) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnDone(returnCode);
}

}  // namespace gpsfw
