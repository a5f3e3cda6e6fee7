#include "front/front_end.h"

#include <cstring>

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "front/quoted_text.h"
#include "front/reason_file.h"
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
    case LogOpenResult::kHeld:
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
  spared.Add(options.trace);
  std::FILE* reason = nullptr;
  if (!OpenOutput(options.reasonFile, "reason file", spared, &reason)) return false;
  Own(reason, reasonFile_);
  reason_ = reason;
  reasonPath_ = options.reasonFile;
  if (!options.quiet) outputs.notes = stderr;
  if (options.check) {
    outputs.check = stdout;
    outputs.checkJson = options.json;
  } else {
    outputs.console = stderr;
    outputs.consoleSetup = DetectConsole(STDERR_FILENO, options.quiet, options.progress);
  }
  eventsPath_ = options.events;
  tracePath_ = options.trace;
  Attach(options.image, options.port, outputs);
  if (!options.quiet) notices_ = stderr;
  return true;
}

void FrontEnd::Add(Observer* view) {
  if (viewCount_ < kViews) views_[viewCount_++] = view;
}

void FrontEnd::Remove(Observer* view) {
  size_t kept = 0;
  for (size_t i = 0; i < viewCount_; ++i) {
    if (views_[i] != view) views_[kept++] = views_[i];
  }
  viewCount_ = kept;
}

// errno as the view's failed write left it, before the next view's calls change it.
void FrontEnd::NoteFailure(const Observer* view) {
  for (Output& output : outputs_) {
    if (output.view != view || output.error != 0 || !std::ferror(output.stream)) continue;
    output.error = errno != 0 ? errno : EIO;
  }
}

// A reader that left (EPIPE), a full disk (ENOSPC), a failing device (EIO): the output is
// closed with one line on standard error, and the update, whose log is the record that
// counts, goes on to its end.
void FrontEnd::DropFailedOutputs() {
  for (Output& output : outputs_) {
    if (output.error == 0) continue;
    std::fprintf(stderr, "gpsfwload: the %s to ", output.what);
    if (output.stream == stdout) {
      std::fputs("standard output", stderr);
    } else {
      WriteQuoted(stderr, output.path != nullptr ? output.path : "");
    }
    std::fprintf(stderr, " failed: %s; it is closed, and the update goes on\n",
                 strerror(output.error));
    Remove(output.view);
    if (output.file != nullptr) output.file->reset();
    const LostOutput lost = output.lost;
    const char* path = output.stream == stdout ? kStandardOutput : output.path;
    const int error = output.error;
    output = Output{};
    // The other views (the event stream, when the trace failed) hear of it.
    for (size_t i = 0; i < viewCount_; ++i) views_[i]->OnOutputLost(lost, path, error);
  }
}

void FrontEnd::Attach(const char* image, const char* port, const FrontEndOutputs& outputs) {
  facts_.image = image != nullptr ? image : "";
  facts_.port = port != nullptr ? port : kDefaultPortName;
  if (outputs.console != nullptr && outputs.consoleSetup.mode != ConsoleMode::kOff) {
    Add(&console_.emplace(outputs.console, outputs.consoleSetup, facts_));
  }
  if (outputs.events != nullptr) {
    Add(&events_.emplace(outputs.events, facts_));
    outputs_[0] = {"event stream", eventsPath_,  outputs.events,
                   &*events_,      &eventsFile_, LostOutput::kEvents};
  }
  if (outputs.trace != nullptr) {
    Add(&trace_.emplace(outputs.trace, facts_));
    outputs_[1] = {"wire trace", tracePath_,  outputs.trace,
                   &*trace_,     &traceFile_, LostOutput::kTrace};
  }
  if (outputs.check != nullptr) Add(&check_.emplace(outputs.check, facts_, outputs.checkJson));
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

template <typename Call>
void FrontEnd::Each(Call call) {
  for (size_t i = 0; i < viewCount_; ++i) {
    call(views_[i]);
    NoteFailure(views_[i]);
  }
  DropFailedOutputs();
}

void FrontEnd::OnPrepared(const PreparedFacts& facts) {
  TakePreparedFacts(facts_, facts);
  if (facts.sfldNotReplaced != 0 && notices_ != nullptr) {
    std::fprintf(notices_,
                 "gpsfwload: %s cannot be replaced (%s; another user's copy, perhaps): the "
                 "update uses its own copy of the image's SFLD\n",
                 facts.sfldPath, std::strerror(facts.sfldNotReplaced));
  }
  Each([&](Observer* view) { view->OnPrepared(facts); });
}

void FrontEnd::OnPhase(UpdatePhase phase) {
  Each([&](Observer* view) { view->OnPhase(phase); });
}

void FrontEnd::OnWake(int count) {
  Each([&](Observer* view) { view->OnWake(count); });
}

void FrontEnd::OnRecord(const RecordReport& record) {
  Each([&](Observer* view) { view->OnRecord(record); });
}

void FrontEnd::OnSectorErased(uint32_t count) {
  Each([&](Observer* view) { view->OnSectorErased(count); });
}

void FrontEnd::OnRetry(const char* what, const char* next) {
  Each([&](Observer* view) { view->OnRetry(what, next); });
}

void FrontEnd::OnPortLost() {
  Each([&](Observer* view) { view->OnPortLost(); });
}

void FrontEnd::OnPortBack() {
  Each([&](Observer* view) { view->OnPortBack(); });
}

void FrontEnd::OnLineError(uint32_t flags) {
  Each([&](Observer* view) { view->OnLineError(flags); });
}

void FrontEnd::OnAdapterLatency(const char* device, int timerMs, const char* advice) {
  // Said once, also where standard error is no terminal: a script's log keeps it.
  if (notices_ != nullptr) std::fprintf(notices_, "gpsfwload: %s\n", advice);
  Each([&](Observer* view) { view->OnAdapterLatency(device, timerMs, advice); });
}

void FrontEnd::OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) {
  Each([&](Observer* view) { view->OnWire(direction, bytes, count, baud); });
}

void FrontEnd::OnLogLine(const char* line) {
  Each([&](Observer* view) { view->OnLogLine(line); });
}

void FrontEnd::OnFailure(const FailureReason& reason) {
  const bool first = !facts_.failed;
  TakeFailure(facts_, reason);
  if (first && notes_ != nullptr) std::fprintf(notes_, "gpsfwload: %s\n", reason.message);
  Each([&](Observer* view) { view->OnFailure(reason); });
}

void FrontEnd::OnWarning(const FailureReason& reason) {
  if (notes_ != nullptr) std::fprintf(notes_, "gpsfwload: warning: %s\n", reason.message);
  Each([&](Observer* view) { view->OnWarning(reason); });
}

void FrontEnd::OnWaiting(const char* what, uint64_t sinceUs) {
  Each([&](Observer* view) { view->OnWaiting(what, sinceUs); });
}

void FrontEnd::OnIdentity(const ReceiverIdentity& identity) {
  facts_.identity = identity;
  Each([&](Observer* view) { view->OnIdentity(identity); });
}

void FrontEnd::OnPortShared(const char* holders) {
  std::snprintf(facts_.portHolders, sizeof facts_.portHolders, "%s", holders);
  Each([&](Observer* view) { view->OnPortShared(holders); });
}

// Said at once, also under -q: quiet silences progress, never a loss. The update goes on.
void FrontEnd::OnOutputLost(LostOutput what, const char* path, int error) {
  if (what == LostOutput::kLog) {
    facts_.logComplete = false;
    std::fputs("gpsfwload: the progress log ", stderr);
    WriteQuoted(stderr, path != nullptr ? path : "");
    std::fprintf(stderr, " is incomplete: %s\n", strerror(error));
  }
  Each([&](Observer* view) { view->OnOutputLost(what, path, error); });
}

void FrontEnd::OnDone(int returnCode) {
  Each([&](Observer* view) { view->OnDone(returnCode); });
  if (reason_ == nullptr) return;
  errno = 0;
  bool written = WriteReasonLine(reason_, returnCode, facts_);
  if (reason_ != stdout) written = std::fclose(reasonFile_.release()) == 0 && written;
  reason_ = nullptr;
  // A script that finds the file empty takes the run for one without a reason: a loss
  // is said at once, also under -q.
  if (written) return;
  std::fputs("gpsfwload: the reason file ", stderr);
  WriteQuoted(stderr, reasonPath_ != nullptr ? reasonPath_ : "");
  std::fprintf(stderr, " could not be written: %s\n", strerror(errno != 0 ? errno : EIO));
}

}  // namespace gpsfw
