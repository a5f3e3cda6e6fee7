#pragma once

#include <memory>
#include <string>

#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/console/view.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/run/board.h"
#include "tools/gpsfwstation/run/serial_desk.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {

class DashboardServer;
struct DashboardShared;
struct WebSite;

// The dashboard of a run: its hub, the record's history read apart when there is a record, its
// view of the board and its web server. The hub and the history reader are shared with the
// record's writer, which calls the reader back from its own thread: they last as long as
// either of them, whichever goes first.
class Dashboard {
 public:
  // Bound before any port is touched, so that a taken address ends the station at once.
  // nullptr with the reason in `error`.
  static std::unique_ptr<Dashboard> Start(const StationOptions& options,
                                          std::shared_ptr<const WebSite> web,
                                          const RecordContext& context, const Board& board,
                                          record::RecordWriter* record, std::string& error);
  ~Dashboard();

  // Its view of the board, to be paired with the console's (once).
  std::unique_ptr<View> TakeView() { return std::move(view_); }
  // Where the serials scanned at the page wait for the station's loop.
  SerialDesk* Serials() { return serials_.get(); }
  // The station's last rows on the page (within a bound), then the server stopped.
  void Finish();

 private:
  Dashboard() = default;

  std::shared_ptr<DashboardShared> shared_;
  std::unique_ptr<View> view_;
  std::shared_ptr<SerialDesk> serials_;
  std::unique_ptr<DashboardServer> server_;
};

}  // namespace gpsfw::station
