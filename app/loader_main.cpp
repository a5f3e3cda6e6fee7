#include "app/loader_main.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/run_loader.h"
#include "app/version.h"
#include "front/front_end.h"
#include "front/port_list_output.h"
#include "front/quoted_text.h"
#include "platform/low_latency.h"
#include "platform/serial_port_list.h"
#include "platform/stop_signals.h"
#include "report/failure_reason.h"
#include "report/progress_log.h"
#include "state/installed_state.h"
#include "state/state_view.h"

namespace gpsfw {
namespace {

// The port list on standard output; no log, no port taken.
int ListPorts(bool json) {
  // Kept off the stack: the list of every port is large.
  static platform::SerialPortList list;
  if (!platform::ListSerialPorts(platform::kSystemPortRoots, platform::PortProbe::kTryOpen,
                                 &list)) {
    std::fputs("gpsfwload: the serial ports cannot be listed on this host\n", stderr);
    return 1;
  }
  if (json) {
    WritePortListJson(stdout, list);
  } else {
    WritePortListText(stdout, list);
  }
  return 0;
}

void TellRefusal(const LoaderOptions& options) {
  std::fprintf(stderr, "gpsfwload: %s ", options.error);
  WriteQuoted(stderr, options.offending);
  std::fputs("\nUsage: gpsfwload -i IMAGE [-p PORT] [-l LOG] [options]; see gpsfwload --help\n",
             stderr);
}

// An update system must not believe a state it cannot find: an update whose state could not
// be written ends with a code of its own, though the receiver has the new image. Said on
// standard error also under -q: it is a loss, not progress.
class StateRecord : public CompletedUpdate {
 public:
  StateRecord(const LoaderOptions& options, const FrontEnd& front)
      : options_(options), front_(front) {}
  int Keep() override {
    if (options_.state == nullptr) return 0;
    std::string why;
    const RunFacts& facts = front_.Facts();
    const CompletedImage completed{options_.image, &facts.identity,
                                   facts.logComplete && ProgressLogComplete(), kLoaderVersion};
    if (WriteInstalledState(options_.state, completed, why)) {
      return 0;
    }
    if (options_.quiet)
      std::fprintf(stderr, "gpsfwload: the update completed, but %s\n", why.c_str());
    ReportFailure(MakeReason("state_not_written", "the update completed, but %s", why.c_str()));
    return kExitStateNotWritten;
  }

 private:
  const LoaderOptions& options_;
  const FrontEnd& front_;
};

}  // namespace

int LoaderMain(int argc, char** argv) {
  LoaderOptions options;
  // A refused command line touches nothing: no log, no port.
  if (!ParseCommandLine(argc, argv, options)) {
    TellRefusal(options);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (options.listPorts) return ListPorts(options.json);
  if (options.showState != nullptr) return ShowState(options.showState, options.json);
  if (options.version) {
    std::printf("gpsfwload %s\n", kLoaderVersion);
    return 0;
  }
  // Console progress, events, trace and the check report watch the run beside the log.
  FrontEnd front;
  if (!front.Configure(options, RunLogPath(options))) return kExitUsage;
  front.Install();
  platform::SetLowLatencyWanted(!options.noLowLatency);
  platform::InstallStopHandlers();
  StateRecord state(options, front);
  return RunLoader(options, &state);
}

}  // namespace gpsfw
