// A build without a web server library (a cross build without the target's libmicrohttpd): the
// station runs as ever and says why it cannot serve its dashboard.
#include "tools/gpsfwstation/http/dashboard_server.h"

namespace gpsfw::station {

std::unique_ptr<DashboardServer> StartDashboardServer(const DashboardSettings&, DashboardHub&,
                                                      std::string& error) {
  error = "this gpsfwstation was built without a web server (libmicrohttpd)";
  return nullptr;
}

}  // namespace gpsfw::station
