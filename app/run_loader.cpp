#include "app/run_loader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/check_run.h"
#include "app/port_choice.h"
#include "front/quoted_text.h"
#include "front/spared_files.h"
#include "image/sfld_loader.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/port_diagnosis.h"
#include "platform/port_target.h"
#include "platform/serial_port_list.h"
#include "platform/stop_signals.h"
#include "platform/text.h"
#include "protocol/host_timing.h"
#include "report/failure_reason.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "update/prepare_image.h"
#include "update/run_state.h"
#include "update/session.h"

namespace gpsfw {
namespace {

// On the handheld the log lived in "\MyDevice\grelm.txt"; here it is the working directory.
constexpr char kDefaultLogPath[] = "grelm.txt";
constexpr char kDefaultPortName[] = "GPS1:";
constexpr wchar_t kBanner[] = L"GPS FW Loader v" GPSFW_VERSION L" ";
constexpr size_t kStopLineCapacity = 48;
// The exit status of a process ended by signal N, as shells report it.
constexpr int kSignalStatusBase = 128;

static_assert(kPathCapacity > PATH_MAX - 1, "every accepted path fits the loader's buffers");

// The run whose port the stop routine closes; nullptr while no port is open. A signal
// handler has no other way to reach it.
RunState* g_stoppableRun = nullptr;

// Registers a run with the stop routine for as long as its port is open, also when the run is
// left by an exception (a test's time limit).
class StoppableRun {
 public:
  explicit StoppableRun(RunState& run) { g_stoppableRun = &run; }
  ~StoppableRun() { g_stoppableRun = nullptr; }
  StoppableRun(const StoppableRun&) = delete;
  StoppableRun& operator=(const StoppableRun&) = delete;
};

void EndRun(int code) {
  CloseProgressLog(code);
  Observe().OnPhase(UpdatePhase::kDone);
  Observe().OnDone(code);
}

// Runs inside the wait that noticed the signal. The port goes through its normal close (line
// settings back, exclusive mode and lock released), the log gets its last two lines, and
// the process ends there: nothing above the wait runs again.
[[noreturn]] void StopRun(int signal) {
  if (g_stoppableRun != nullptr) ClosePort(g_stoppableRun->link);
  g_stoppableRun = nullptr;
  wchar_t line[kStopLineCapacity];
  std::swprintf(line, kStopLineCapacity, L"Interrupted by signal %d", signal);
  LogWide(line);
  EndRun(kRunStopped);
  std::exit(kSignalStatusBase + signal);
}

void TellLogRefused(const char* path, const char* why) {
  std::fputs("gpsfwload: cannot use the log ", stderr);
  WriteQuoted(stderr, path);
  std::fprintf(stderr, ": %s\n", why);
}

// Two runs on one log would interleave their lines and leave two RetCode lines: the second
// one stops before it touches the port, and the first run's log stays whole.
void TellLogHeld(const char* path, long holder) {
  char why[128];
  if (holder > 0) {
    std::snprintf(why, sizeof why,
                  "another gpsfwload run (PID %ld) is writing it; it is left as it is", holder);
  } else {
    std::snprintf(why, sizeof why, "another gpsfwload run is writing it; it is left as it is");
  }
  TellLogRefused(path, why);
}

// The log must never be a file the run reads: the image, or an SFLD it may fall back to.
bool OpenLog(const char* path, const char* imagePath) {
  const SparedFiles spared(imagePath, nullptr);
  long holder = 0;
  switch (OpenRunLog(path, spared.Paths(), spared.Count(), &holder)) {
    case LogOpenResult::kOpened:
      return true;
    case LogOpenResult::kWouldOverwrite:
      TellLogRefused(path, "it is the firmware image or an SFLD file; it is left as it is");
      return false;
    case LogOpenResult::kHeld:
      TellLogHeld(path, holder);
      return false;
    case LogOpenResult::kFailed:
      break;
  }
  TellLogRefused(path, RefusedAsSymbolicLink(errno)
                           ? "it is a symbolic link, which the log never follows"
                           : std::strerror(errno));
  return false;
}

void TellPortFailed(const platform::PortTarget& port) {
  platform::PortDiagnosis diagnosis;
  platform::DiagnosePort(port, &diagnosis);
  ReportFailure(MakeReason(diagnosis.code, "%s", diagnosis.text));
}

// A terminal, a GPS daemon or a modem manager reading the port takes the receiver's answers,
// and the update would only see silence: they are named before the first wake-up.
void TellPortShared(const platform::PortTarget& port) {
  char holders[256];
  if (platform::DescribePortHolders(port.device, holders, sizeof holders) == 0) return;
  Observe().OnPortShared(holders);
  ReportWarning(MakeReason("port_shared",
                           "other programs have %s open too and may take the receiver's answers: "
                           "%s; the update goes on",
                           port.chosen, holders));
}

int PrepareAndRun(RunState& run, const wchar_t* imagePath) {
  Observe().OnPhase(UpdatePhase::kPreparing);
  if (!PrepareImage(run, imagePath)) return kRunImageFailed;
  // Preparing even a large image has no wait of its own: a stop asked for meanwhile ends
  // the run here, before the receiver is woken.
  platform::CheckStop();
  Observe().OnPrepared(run.prepared);
  return RunSession(run) ? kRunOk : kRunGaveUp;
}

// The flash is touched only once a flash stage has begun.
void TellGaveUp(unsigned long seconds, const RunState& run) {
  wchar_t line[kStopLineCapacity];
  std::swprintf(line, kStopLineCapacity, L"Gave up after %lu s", seconds);
  LogWide(line);
  ReportFailure(MakeReason(
      "gave_up", "no complete update within %lu s (--give-up-after); %s", seconds,
      run.flashStages > 0 ? "the receiver's flash may be incomplete and must be updated again"
                          : "the receiver's flash was not touched"));
}

// The -p text, resolved once into what it names; the run hands the result down.
void ResolveGivenPort(const LoaderOptions& options, platform::PortTarget* port) {
  const char* given = options.port != nullptr ? options.port : kDefaultPortName;
  char chosen[kPathCapacity];
  (void)ChoosePort(given, chosen, sizeof chosen, options.quiet || options.check ? nullptr : stderr);
  (void)platform::ResolvePort(given, chosen, port);
}

int RunWithLog(const LoaderOptions& options) {
  LogWide(kBanner);
  platform::PortTarget port;
  ResolveGivenPort(options, &port);
  wchar_t device[kPathCapacity];
  platform::WideFromNarrow(device, kPathCapacity, port.device);
  if (options.image == nullptr) {
    LogWide(L"FW image file (-i parameter) missed");
    return kRunNoImageOption;
  }
  wchar_t imagePath[kPathCapacity];
  platform::WideFromNarrow(imagePath, kPathCapacity, options.image);
  // A check prepares the image as an update would and never touches the port.
  if (options.check) return CheckImage(imagePath);

  RunState run;
  const uint64_t seconds = options.giveUpAfterSeconds;
  if (seconds != 0) run.giveUpAtUs = platform::NowUs() + seconds * 1000000;
  if (!OpenPort(run.link, platform::Serial(), device, kOpeningBaud)) {
    TellPortFailed(port);
    return kRunPortFailed;
  }
  StoppableRun stoppable(run);
  run.link.giveUpAtUs = run.giveUpAtUs;
  if (port.usbSerial[0] != '\0') run.link.usbSerial = port.usbSerial;
  CheckAdapterLatency(run.link, port.device);
  TellPortShared(port);
  const int code = PrepareAndRun(run, imagePath);
  ClosePort(run.link);
  if (code == kRunGaveUp) TellGaveUp(options.giveUpAfterSeconds, run);
  return code;
}

}  // namespace

const char* RunLogPath(const LoaderOptions& options) {
  if (options.log != nullptr) return options.log;
  // A check leaves the last update's log as it was unless -l names one.
  return options.check ? nullptr : kDefaultLogPath;
}

int RunLoader(const LoaderOptions& options, CompletedUpdate* completed) {
  platform::SetStopRoutine(StopRun);
  const char* logPath = RunLogPath(options);
  int code = kRunLogFailed;
  if (logPath == nullptr) OpenUnwrittenLog();
  if (logPath == nullptr || OpenLog(logPath, options.image)) {
    code = RunWithLog(options);
    if (code == kRunOk && completed != nullptr) {
      // The state records whether the log is whole: every line but the last is out by now.
      FlushProgressLog();
      code = completed->Keep();
    }
    EndRun(code);
  }
  platform::SetStopRoutine(nullptr);
  return code;
}

}  // namespace gpsfw
