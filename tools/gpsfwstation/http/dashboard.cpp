#include "tools/gpsfwstation/http/dashboard.h"

#include <iostream>

#include "tools/gpsfwstation/http/dashboard_server.h"
#include "tools/gpsfwstation/http/dashboard_view.h"
#include "tools/gpsfwstation/http/history_reader.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station {

// How long the dashboard may take to read the record's last rows before the station goes.
constexpr auto kLastHistoryBound = std::chrono::seconds(2);

// What the record's writer may still reach after the run has let go of the dashboard. The
// reader is made after the hub it feeds, so that it is gone before it.
struct DashboardShared {
  DashboardHub hub;
  std::unique_ptr<HistoryReader> history;
};

std::unique_ptr<Dashboard> Dashboard::Start(const StationOptions& options,
                                            std::shared_ptr<const WebSite> web,
                                            const RecordContext& context, const Board& board,
                                            record::RecordWriter* record, std::string& error) {
  std::unique_ptr<Dashboard> dashboard(new Dashboard);
  auto shared = std::make_shared<DashboardShared>();
  dashboard->shared_ = shared;
  // With a record, the history is read back once each ended row has reached it; without
  // one, the view keeps this run's history itself.
  if (record != nullptr) {
    shared->history = std::make_unique<HistoryReader>(options.db, shared->hub);
    record->OnFinishWritten([shared] { shared->history->Changed(); });
  }
  const DashboardInfo info{context.host, context.operatorName, options.watch ? "watch" : "ports",
                           record::UtcText(board.startWall), context.station};
  dashboard->view_ = MakeDashboardView(shared->hub, info, context, record == nullptr, nullptr);
  dashboard->view_->Refresh(board, Clock::now());
  const HttpAddress address = ParseHttpAddress(options.http);
  DashboardSettings settings = DashboardSettingsFor(address, options.httpToken);
  settings.web = std::move(web);
  dashboard->serials_ = std::make_shared<SerialDesk>();
  settings.serials = dashboard->serials_;
  dashboard->server_ = StartDashboardServer(settings, shared->hub, error);
  if (dashboard->server_ == nullptr) return nullptr;
  const std::string url = HttpUrl(address, dashboard->server_->Port());
  std::cerr << "gpsfwstation: dashboard at " << url << "\n";
  if (settings.web != nullptr) std::cerr << "gpsfwstation: web page at " << url << "web/\n";
  return dashboard;
}

// The server stops itself as it goes.
Dashboard::~Dashboard() = default;

void Dashboard::Finish() {
  if (shared_->history != nullptr) shared_->history->Settle(kLastHistoryBound);
  if (server_ != nullptr) server_->Stop();
}

}  // namespace gpsfw::station
