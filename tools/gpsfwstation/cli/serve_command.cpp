#include "tools/gpsfwstation/cli/serve_command.h"

#include <poll.h>

#include <cerrno>
#include <csignal>

#include <cstdlib>
#include <iostream>

#include "tools/gpsfwstation/cli/option_table.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/http/dashboard_server.h"
#include "tools/gpsfwstation/http/history_reader.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/utc_time.h"
#include "tools/gpsfwstation/run/stop_signals.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

constexpr const char* kServeUsage =
    "usage: gpsfwstation serve [--db WHERE] [--web DIR] --http ADDR:PORT [--http-token TOKEN]\n"
    "Serves the dashboard of a record without flashing anything: its last 50 updates, each\n"
    "port's yield and the totals, read again every few seconds. WHERE is an SQLite file or a\n"
    "PostgreSQL connection string. --web DIR also serves the web updater page (DIR holds\n"
    "index.html, gpsfwload.js, gpsfwload.wasm and style.css) under /web/; without --db, only\n"
    "the page. An address beyond loopback needs a token (also from $GPSFW_HTTP_TOKEN). Runs\n"
    "until SIGINT or SIGTERM.\n";

// What `serve` is given: where the record is, where to listen, and the token.
struct ServeOptions {
  std::string db, web, http, httpToken;
  bool help = false;
};

ServeOptions ParseServe(const std::vector<std::string>& args) {
  ServeOptions options;
  const auto into = [](std::string& field) {
    return [&field](const std::string&, const std::string& value) { field = value; };
  };
  const std::vector<OptionRow> table = {
      {{"-h", "--help"},
       false,
       [&options](const std::string&, const std::string&) { options.help = true; }},
      {{"--db"}, true, into(options.db)},
      {{"--web"}, true, into(options.web)},
      {{"--http"}, true, into(options.http)},
      {{"--http-token"}, true, into(options.httpToken)}};
  ParseOptions(args, table,
               [](const std::string& arg) { throw UsageError("serve: unknown argument " + arg); });
  if (options.help) return options;
  if (options.db.empty() && options.web.empty()) {
    throw UsageError("serve needs --db WHERE, --web DIR or both");
  }
  if (options.http.empty()) throw UsageError("serve needs --http ADDR:PORT");
  CheckHttp(options.http, options.httpToken);
  return options;
}

int Serve(const ServeOptions& options) {
  std::string error;
  DashboardSettings settings =
      DashboardSettingsFor(ParseHttpAddress(options.http), options.httpToken);
  settings.dashboard = !options.db.empty();
  // A folder that is not the page is a mistake in the command, found before anything starts.
  if (!options.web.empty() && (settings.web = LoadWebSite(options.web, error)) == nullptr) {
    std::cerr << "gpsfwstation serve: " << error << "\n";
    return kExitUsage;
  }
  // Found missing or unreadable at once, rather than as an empty page.
  if (!options.db.empty() && record::OpenRecordForReading(options.db, error) == nullptr) {
    std::cerr << "gpsfwstation serve: " << error << "\n";
    return kExitFailed;
  }
  StopSignals signals;
  DashboardHub hub;
  const DashboardInfo info{HostName(), LoginName(), "serve", record::UtcNow(), ""};
  std::unique_ptr<HistoryReader> reader;
  if (!options.db.empty()) reader = std::make_unique<HistoryReader>(options.db, hub, &info);
  std::unique_ptr<DashboardServer> server = StartDashboardServer(settings, hub, error);
  if (server == nullptr) {
    std::cerr << "gpsfwstation serve: " << error << "\n";
    return kExitFailed;
  }
  const std::string url = HttpUrl(settings.address, server->Port());
  if (!options.db.empty()) std::cerr << "gpsfwstation: dashboard at " << url << "\n";
  if (settings.web != nullptr) std::cerr << "gpsfwstation: web page at " << url << "web/\n";
  for (;;) {
    pollfd fd{signals.Fd(), POLLIN, 0};
    if (poll(&fd, 1, -1) < 0 && errno != EINTR) break;
    const int signal = signals.Next();
    if (signal != 0 && signal != SIGCHLD) break;
  }
  server->Stop();
  return kExitOk;
}

}  // namespace

int RunServeCommand(const std::vector<std::string>& args) {
  ServeOptions options;
  try {
    options = ParseServe(args);
  } catch (const UsageError& e) {
    std::cerr << "gpsfwstation: " << e.what() << "\n" << kServeUsage;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kServeUsage;
    return kExitOk;
  }
  return Serve(options);
}

}  // namespace gpsfw::station
