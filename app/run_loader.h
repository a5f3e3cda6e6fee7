#pragma once

#include "front/loader_options.h"

namespace gpsfw {

// Return codes of a run. Written to the log as "RetCode: N"; the process exit status is
// N & 0xFF, except after a stop signal, whose exit status is 128 + the signal.
inline constexpr int kRunOk = 0;
inline constexpr int kRunPortFailed = -2;
inline constexpr int kRunImageFailed = -3;
inline constexpr int kRunLogFailed = -5;
inline constexpr int kRunNoImageOption = -6;
inline constexpr int kRunStopped = -7;
inline constexpr int kRunGaveUp = -8;  // --give-up-after: no complete update in time

// What a completed update still does before its log ends (the --state file), so that the
// log's last line is the run's true code.
class CompletedUpdate {
 public:
  virtual ~CompletedUpdate() = default;
  // 0, or the run's code when what it keeps cannot be kept.
  virtual int Keep() = 0;
};

// The whole run: log, port, image preparation, the session with the target, then
// `completed` (when given) after a completed update. The options' values are no longer than
// MaxOptionValueBytes() (command_line.h). A stop signal noted in any wait ends the run and
// the process there (stop_signals.h).
int RunLoader(const LoaderOptions& options, CompletedUpdate* completed = nullptr);

// The progress log the run writes: -l, or grelm.txt in the working directory; nullptr for
// --check without -l, whose log lines reach the report only.
const char* RunLogPath(const LoaderOptions& options);

}  // namespace gpsfw
