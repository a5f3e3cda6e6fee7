#include "front/front_end.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "front/quoted_text.h"
#include "front/spared_files.h"
#include "platform/clock.h"
#include "report/output_file.h"

namespace gpsfw {
namespace {

// The port the run sequence opens when the command line names none.
constexpr char kDefaultPortName[] = "GPS1:";
constexpr char kStandardOutput[] = "-";

void TellOutputRefused(const char* what, const char* path, const char* why) {
  std::fprintf(stderr, "gpsfwload: cannot write the %s to ", what);
  WriteQuoted(stderr, path);
  std::fprintf(stderr, ": %s\n", why);
}

// Standard output for "-", else a file of its own in *stream.
bool OpenOutput(const char* path, const char* what, const SparedFiles& spared, std::FILE** stream) {
  if (path == nullptr) return true;
  if (strcmp(path, kStandardOutput) == 0) {
    *stream = stdout;
    return true;
  }
  std::FILE* opened = nullptr;
  // A spared file that does not exist yet (the log, before the run creates it) is known
  // by its name only.
  const LogOpenResult result =
      spared.Names(path) ? LogOpenResult::kWouldOverwrite
                         : OpenOutputFile(path, "w", spared.Paths(), spared.Count(), &opened);
  switch (result) {
    case LogOpenResult::kOpened:
      *stream = opened;
      return true;
    case LogOpenResult::kWouldOverwrite:
      TellOutputRefused(what, path,
                        "it is the firmware image, an SFLD file, the log or the other output; "
                        "it is left as it is");
      return false;
    case LogOpenResult::kFailed:
      break;
  }
  TellOutputRefused(what, path,
                    RefusedAsSymbolicLink(errno) ? "it is a symbolic link, which is never followed"
                                                 : strerror(errno));
  return false;
}

}  // namespace

FrontEnd::~FrontEnd() {
  if (installed_) InstallObserver(previous_);
}

void FrontEnd::Own(std::FILE* stream, File& file) {
  if (stream != nullptr && stream != stdout) file.reset(stream);
}

bool FrontEnd::Configure(const LoaderOptions& options, const char* logPath) {
  FrontEndOutputs outputs;
  SparedFiles spared(options.image, logPath);
  if (!OpenOutput(options.events, "event stream", spared, &outputs.events)) return false;
  Own(outputs.events, eventsFile_);
  spared.Add(options.events);
  if (!OpenOutput(options.trace, "wire trace", spared, &outputs.trace)) return false;
  Own(outputs.trace, traceFile_);
  if (!options.quiet) outputs.notes = stderr;
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
  // The console progress shows failures and warnings in its own lines.
  notes_ = console_ ? nullptr : outputs.notes;
}

void FrontEnd::Install() {
  facts_.startUs = platform::NowUs();
  previous_ = &Observe();
  Add(previous_);
  InstallObserver(this);
  installed_ = true;
}

void FrontEnd::OnPrepared(const PreparedFacts& facts) {
  TakePreparedFacts(facts_, facts);
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPrepared(facts);
}

void FrontEnd::OnPhase(UpdatePhase phase) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnPhase(phase);
}

void FrontEnd::OnWake(int count) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnWake(count);
}

void FrontEnd::OnRecord(const RecordReport& record) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnRecord(record);
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

void FrontEnd::OnFailure(const FailureReason& reason) {
  const bool first = !facts_.failed;
  TakeFailure(facts_, reason);
  if (first && notes_ != nullptr) std::fprintf(notes_, "gpsfwload: %s\n", reason.message);
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnFailure(reason);
}

void FrontEnd::OnWarning(const FailureReason& reason) {
  if (notes_ != nullptr) std::fprintf(notes_, "gpsfwload: warning: %s\n", reason.message);
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnWarning(reason);
}

void FrontEnd::OnWaiting(const char* what, uint64_t sinceUs) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnWaiting(what, sinceUs);
}

void FrontEnd::OnDone(int returnCode) {
  for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnDone(returnCode);
}

}  // namespace gpsfw
