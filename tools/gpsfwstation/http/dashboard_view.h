#pragma once

#include <functional>
#include <memory>

#include "tools/gpsfwstation/console/view.h"
#include "tools/gpsfwstation/http/dashboard_hub.h"
#include "tools/gpsfwstation/http/dashboard_json.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {

// The station's side of the dashboard: a view like the console's, which turns the board into
// the page's JSON on the station's own thread and hands it to the hub. Changes are sent at
// most four times a second; the clocks on the page move once a second when nothing happens.
// `onEnded` is told when a unit has ended, so that the record's history is read again; without
// a record the view keeps the history of this run itself.
std::unique_ptr<View> MakeDashboardView(DashboardHub& hub, const DashboardInfo& info,
                                        const RecordContext& context, bool keepHistory,
                                        std::function<void()> onEnded);

// Both views see every call; the station waits for the sooner of their refreshes.
std::unique_ptr<View> MakeViewPair(std::unique_ptr<View> first, std::unique_ptr<View> second);

}  // namespace gpsfw::station
