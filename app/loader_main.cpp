#include "app/loader_main.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/run_loader.h"
#include "app/version.h"
#include "front/front_end.h"
#include "front/quoted_text.h"
#include "platform/stop_signals.h"

namespace gpsfw {
namespace {

void TellRefusal(const LoaderOptions& options) {
  std::fprintf(stderr, "gpsfwload: %s ", options.error);
  WriteQuoted(stderr, options.offending);
  std::fputs("\nUsage: gpsfwload -i IMAGE [-p PORT] [-l LOG] [options]; see gpsfwload --help\n",
             stderr);
}

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
  if (options.version) {
    std::printf("gpsfwload %s\n", kLoaderVersion);
    return 0;
  }
  // Console progress, events, trace and the check report watch the run beside the log.
  FrontEnd front;
  if (!front.Configure(options, RunLogPath(options))) return kExitUsage;
  front.Install();
  platform::InstallStopHandlers();
  return RunLoader(options);
}

}  // namespace gpsfw
