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
    "usage: gpsfwstation serve --db WHERE --http ADDR:PORT [--http-token TOKEN]\n"
    "Serves the dashboard of a record without flashing anything: its last 50 updates, each\n"
    "port's yield and the totals, read again every few seconds. WHERE is an SQLite file or a\n"
    "PostgreSQL connection string. An address beyond loopback needs a token (also from\n"
    "$GPSFW_HTTP_TOKEN). Runs until SIGINT or SIGTERM.\n";

// What `serve` is given: where the record is, where to listen, and the token.
struct ServeOptions {
  std::string db, http, httpToken;
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
      {{"--http"}, true, into(options.http)},
      {{"--http-token"}, true, into(options.httpToken)}};
  ParseOptions(args, table,
               [](const std::string& arg) { throw UsageError("serve: unknown argument " + arg); });
  if (options.help) return options;
  if (options.db.empty()) throw UsageError("serve needs --db WHERE");
  if (options.http.empty()) throw UsageError("serve needs --http ADDR:PORT");
  CheckHttp(options.http, options.httpToken);
  return options;
}

int Serve(const ServeOptions& options) {
  std::string error;
  // Found missing or unreadable at once, rather than as an empty page.
  if (record::OpenRecordForReading(options.db, error) == nullptr) {
    std::cerr << "gpsfwstation serve: " << error << "\n";
    return kExitFailed;
  }
  StopSignals signals;
  DashboardHub hub;
  const DashboardInfo info{HostName(), LoginName(), "serve", record::UtcNow()};
  HistoryReader reader(options.db, hub, &info);
  const HttpAddress address = ParseHttpAddress(options.http);
  std::unique_ptr<DashboardServer> server =
      StartDashboardServer(DashboardSettingsFor(address, options.httpToken), hub, error);
  if (server == nullptr) {
    std::cerr << "gpsfwstation serve: " << error << "\n";
    return kExitFailed;
  }
  std::cerr << "gpsfwstation: dashboard at " << HttpUrl(address, server->Port()) << "\n";
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
