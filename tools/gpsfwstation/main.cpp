// gpsfwstation: flashes one image to many receivers at once, one gpsfwload per port, with a
// live view of every port, a log per unit, a summary and a verdict.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tools/gpsfwstation/cli/record_commands.h"
#include "tools/gpsfwstation/cli/serve_command.h"
#include "tools/gpsfwstation/console/summary.h"
#include "tools/gpsfwstation/http/dashboard.h"
#include "tools/gpsfwstation/http/dashboard_view.h"
#include "tools/gpsfwstation/http/web_site.h"
#include "tools/gpsfwstation/record/utc_time.h"
#include "tools/gpsfwstation/run/image_check.h"
#include "tools/gpsfwstation/run/station.h"
#include "tools/gpsfwstation/run/station_record.h"

namespace gpsfw::station {
namespace {

constexpr char kVersion[] = "gpsfwstation " GPSFW_VERSION;

std::string LoaderPath(const StationOptions& options) {
  if (!options.loader.empty()) return options.loader;
  char self[4096];
  platform::ModuleFileName(self, sizeof self);
  const std::string path = self;
  const size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/gpsfwload";
}

// The ports of a run without --watch: the named ones, then the matches of --ports.
std::vector<std::string> PortsNow(const StationOptions& options) {
  std::vector<std::string> ports;
  std::set<std::string> seen;
  for (const std::string& port : options.ports) {
    if (seen.insert(port).second) ports.push_back(port);
  }
  for (const std::string& pattern : options.patterns) {
    const std::vector<std::string> matches = PortWatch::Expand({pattern});
    if (matches.empty()) std::cerr << "gpsfwstation: no port matches " << pattern << "\n";
    for (const std::string& port : matches) {
      if (seen.insert(port).second) ports.push_back(port);
    }
  }
  return ports;
}

// The loader prepares the image as an update would; what it refuses reaches no port. The
// check runs on the station's own copy, which is what the loaders will flash. "" when the
// image is accepted, else why not.
std::string ImageRefusal(const std::string& loader, const StationOptions& options,
                         const ImageFacts& image, UnitFiles& files) {
  if (!options.expectSha256.empty() && image.sha256 != options.expectSha256) {
    return "its SHA-256 is " + (image.sha256.empty() ? std::string("unknown") : image.sha256) +
           ", not the expected " + options.expectSha256;
  }
  const CheckRun check =
      RunImageCheck(loader, image.snapshot, files.CheckLog(), files.NewTempDir());
  if (check.status == 0) return "";
  std::cerr << check.output;
  return "gpsfwload --check exit status " + std::to_string(check.status) + ", log " +
         files.CheckLog();
}

std::unique_ptr<View> ChooseView(const StationOptions& options) {
  if (!options.plain && isatty(STDOUT_FILENO)) return MakeLiveView(STDOUT_FILENO);
  if (!options.plain && isatty(STDERR_FILENO)) return MakeLiveView(STDERR_FILENO);
  return MakePlainView(stdout);
}

// What a run holds before its first port: the loader, the folders, the loaders a station
// killed outright left running (waited for, never raced) and who runs it.
struct RunSetup {
  RunSetup(const StationOptions& options, std::string loaderPath)
      : loader(std::move(loaderPath)),
        files(options.logDir),
        notes(options.logDir),
        left(notes.TakeOver()),
        context{HostName(), options.operatorName.empty() ? LoginName() : options.operatorName,
                options.stationName.empty() ? HostName() : options.stationName} {}

  std::set<std::string> Adopted() const {
    std::set<std::string> ids;
    for (const LeftLoader& loader : left) ids.insert(loader.recordId);
    return ids;
  }

  std::string loader;
  StopSignals signals;  // a Ctrl-C during the check stops the station before any port
  UnitFiles files;
  const RunningNotes notes;
  const std::vector<LeftLoader> left;
  const RecordContext context;
};

// The image read and checked on the station's own copy; a refusal is said and recorded.
bool ImageAccepted(const StationOptions& options, RunSetup& setup, record::RecordWriter* record,
                   Board& board) {
  board.startWall = WallClock::now();
  board.image = ReadImageFacts(options.image, setup.files.NewTempDir());
  const std::string refusal = ImageRefusal(setup.loader, options, board.image, setup.files);
  if (refusal.empty()) return true;
  std::cerr << "gpsfwstation: the image " << options.image << " is refused (" << refusal
            << "); no port was touched\n";
  if (record != nullptr) {
    RecordRefusedImage(*record, board, setup.context, refusal);
    std::cerr << RecordSummary(*record, options);
  }
  return false;
}

// The hooks still running get their own time-out to end, a station told to stop a moment;
// what is left is said. Before the record's summary, which waits for their outcomes.
std::string HookSummary(UpdateHook& hook, const StationOptions& options, bool stopping) {
  const auto bound = stopping ? std::chrono::milliseconds(3000)
                              : std::chrono::milliseconds(static_cast<long long>(
                                    options.hookTimeoutSeconds * 1000 + 2000));
  const size_t left = hook.Finish(bound);
  if (left == 0) return "";
  return "Hook: " + std::to_string(left) + " row" + (left == 1 ? "" : "s") +
         " did not reach the hook before the station ended; " +
         (options.db.empty() ? std::string("without --db they are not tried again\n")
                             : std::string("marked \"pending\" in the record, handed to it "
                                           "again at the next start\n"));
}

// The station's loop over the ports, then the summary, the record's and the report.
int Flash(const StationOptions& options, RunSetup& setup, record::RecordWriter* record, View& view,
          Board& board, SerialDesk* serials) {
  std::vector<std::string> patterns = options.ports;
  patterns.insert(patterns.end(), options.patterns.begin(), options.patterns.end());
  PortWatch watch(patterns);
  std::unique_ptr<UpdateHook> hook;
  if (!options.onUpdateEnd.empty()) {
    hook = std::make_unique<UpdateHook>(
        HookSettings{options.onUpdateEnd, options.hookTimeoutSeconds, options.db,
                     setup.context.station, setup.context.host},
        record);
  }
  Station station(
      {&options, setup.loader, &setup.files, &view, &setup.signals,
       options.watch ? &watch : nullptr, record, &setup.notes, serials, setup.context, hook.get()},
      board);
  station.Adopt(setup.left);
  if (!options.watch) {
    const std::vector<std::string> ports = PortsNow(options);
    if (ports.empty()) return kExitFailed;
    station.Begin(ports);
  }
  station.Run();
  view.Finish(board, Clock::now());
  std::cout << SummaryText(board, Clock::now());
  if (hook != nullptr) std::cout << HookSummary(*hook, options, board.stopping);
  if (record != nullptr) std::cout << RecordSummary(*record, options, board.stopping);
  std::cout << std::flush;
  if (!options.report.empty()) WriteReport(options.report, ReportJson(board, Clock::now()));
  return ExitStatusOf(board);
}

int RunStation(const StationOptions& options) {
  const std::string loader = LoaderPath(options);
  if (access(loader.c_str(), X_OK) != 0) {
    std::cerr << "gpsfwstation: no loader at " << loader << " (see --loader)\n";
    return kExitFailed;
  }
  if (!options.report.empty()) CheckReportPath(options.report);
  std::string error;
  // A folder that is not the page is a mistake in the command, found before anything starts.
  std::shared_ptr<const WebSite> web;
  if (!options.web.empty() && (web = LoadWebSite(options.web, error)) == nullptr) {
    std::cerr << "gpsfwstation: " << error << "\n";
    return kExitUsage;
  }
  RunSetup setup(options, loader);
  std::unique_ptr<record::RecordWriter> record;
  if (!options.db.empty()) {
    record = OpenStationRecord(options, setup.context, setup.Adopted(), error);
    if (record == nullptr) {
      std::cerr << "gpsfwstation: " << error << "; no port was touched\n";
      return kExitFailed;
    }
  }
  Board board;
  board.station = setup.context.station;
  if (!ImageAccepted(options, setup, record.get(), board)) return kExitRefused;
  board.start = Clock::now();
  board.watching = options.watch;
  std::unique_ptr<View> view = ChooseView(options);
  std::unique_ptr<Dashboard> dashboard;
  if (!options.http.empty()) {
    dashboard = Dashboard::Start(options, web, setup.context, board, record.get(), error);
    if (dashboard == nullptr) {
      std::cerr << "gpsfwstation: the dashboard: " << error << "; no port was touched\n";
      return kExitFailed;
    }
    view = MakeViewPair(std::move(view), dashboard->TakeView());
  }
  const int status = Flash(options, setup, record.get(), *view, board,
                           dashboard != nullptr ? dashboard->Serials() : nullptr);
  if (dashboard != nullptr) dashboard->Finish();
  return status;
}

}  // namespace
}  // namespace gpsfw::station

int main(int argc, char** argv) {
  using namespace gpsfw::station;
  // The default loader lies beside the station, which a host without /proc finds by argv[0].
  gpsfw::platform::SetProgramArgument(argc > 0 ? argv[0] : nullptr);
  if (argc > 1 && std::string(argv[1]) == "history") {
    return RunHistoryCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (argc > 1 && std::string(argv[1]) == "serve") {
    return RunServeCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (argc > 1 && std::string(argv[1]) == "stats") {
    return RunStatsCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  StationOptions options;
  try {
    options = ParseStationOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "gpsfwstation: " << e.what() << " (see 'gpsfwstation --help')\n";
    return kExitUsage;
  }
  if (options.help || options.version) {
    std::cout << (options.help ? UsageText() : kVersion) << (options.help ? "" : "\n");
    return kExitOk;
  }
  try {
    return RunStation(options);
  } catch (const std::exception& e) {
    std::cerr << "gpsfwstation: " << e.what() << "\n";
    return kExitFailed;
  }
}
