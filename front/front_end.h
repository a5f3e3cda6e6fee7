#pragma once

#include <cstdio>
#include <memory>
#include <optional>

#include "front/check_report.h"
#include "front/console_progress.h"
#include "front/event_stream.h"
#include "front/loader_options.h"
#include "front/run_facts.h"
#include "front/terminal.h"
#include "front/wire_trace.h"
#include "report/observer.h"

namespace gpsfw {

// Where the front end writes; nullptr leaves a view out.
struct FrontEndOutputs {
  std::FILE* console = nullptr;
  ConsoleSetup consoleSetup;
  std::FILE* events = nullptr;
  std::FILE* trace = nullptr;
  std::FILE* check = nullptr;
  bool checkJson = false;  // the check's report as one JSON object
  // Failures and warnings, one line each, when the console progress does not show them.
  std::FILE* notes = nullptr;
};

// The one observer the loader installs: it gathers the run's facts and hands every call on
// to the views the options ask for (console progress, event stream, wire trace, check
// report). An observer installed before it (a test's, a measurement's) goes on receiving
// every call; it is installed again when the front end goes.
class FrontEnd : public Observer {
 public:
  FrontEnd() = default;
  ~FrontEnd() override;
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // Opens the files the options name and looks at the terminal: --check prints its report
  // on standard output and nothing on the console; otherwise the console progress goes to
  // standard error. An output is never opened over the image, an SFLD file, the log at
  // `logPath` or the other output. False, with a message on standard error, when a file
  // cannot be opened.
  bool Configure(const LoaderOptions& options, const char* logPath);
  // What Configure does, with the outputs given (tests).
  void Attach(const char* image, const char* port, const FrontEndOutputs& outputs);
  // Starts the run's clock and becomes the process-wide observer.
  void Install();
  const RunFacts& Facts() const { return facts_; }

  void OnPrepared(const PreparedFacts& facts) override;
  void OnPhase(UpdatePhase phase) override;
  void OnWake(int count) override;
  void OnRecord(const RecordReport& record) override;
  void OnSectorErased(uint32_t count) override;
  void OnRetry(const char* what, const char* next) override;
  void OnPortLost() override;
  void OnPortBack() override;
  void OnLineError(uint32_t flags) override;
  void OnAdapterLatency(const char* device, int timerMs, const char* advice) override;
  void OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) override;
  void OnLogLine(const char* line) override;
  void OnFailure(const FailureReason& reason) override;
  void OnWarning(const FailureReason& reason) override;
  void OnWaiting(const char* what, uint64_t sinceUs) override;
  void OnIdentity(const ReceiverIdentity& identity) override;
  void OnPortShared(const char* holders) override;
  void OnOutputLost(LostOutput what, const char* path, int error) override;
  void OnDone(int returnCode) override;

 private:
  static constexpr size_t kViews = 5;  // the four views and the observer installed before
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

  // An output the run writes beside the log (events, trace): when a write to it fails,
  // the view leaves the run and the update goes on.
  struct Output {
    const char* what = nullptr;
    const char* path = nullptr;
    std::FILE* stream = nullptr;
    Observer* view = nullptr;
    File* file = nullptr;
    LostOutput lost = LostOutput::kEvents;
    int error = 0;  // errno of the failed write; 0 while it writes
  };

  void Add(Observer* view);
  void Remove(Observer* view);
  // Hands one call to every view, then drops the outputs whose writes failed.
  template <typename Call>
  void Each(Call call);
  void NoteFailure(const Observer* view);
  void DropFailedOutputs();
  // Standard output stays open; a file of its own is closed with the front end.
  static void Own(std::FILE* stream, File& file);

  RunFacts facts_;
  std::optional<ConsoleProgress> console_;
  std::optional<EventStream> events_;
  std::optional<WireTrace> trace_;
  std::optional<CheckReport> check_;
  Observer* views_[kViews] = {};
  size_t viewCount_ = 0;
  bool installed_ = false;
  Observer* previous_ = nullptr;
  std::FILE* notices_ = nullptr;  // standard error, unless -q
  std::FILE* notes_ = nullptr;
  File eventsFile_{nullptr, &std::fclose};
  File traceFile_{nullptr, &std::fclose};
  File reasonFile_{nullptr, &std::fclose};
  std::FILE* reason_ = nullptr;  // --reason-file's stream until the run's end
  const char* reasonPath_ = nullptr;
  Output outputs_[2];
  const char* eventsPath_ = nullptr;
  const char* tracePath_ = nullptr;
};

}  // namespace gpsfw
