#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tools/gpsfwstation/http/dashboard_hub.h"
#include "tools/gpsfwstation/http/http_address.h"
#include "tools/gpsfwstation/http/web_site.h"
#include "tools/gpsfwstation/run/serial_desk.h"

namespace gpsfw::station {

struct DashboardSettings {
  HttpAddress address;
  std::string token;  // "" : none asked (loopback only)
  size_t maxClients = 64;
  // From a connection (or its last answer) to its next request's whole header.
  std::chrono::milliseconds requestBound{10000};
  // The web updater page, served under /web/ when given.
  std::shared_ptr<const WebSite> web;
  // False when there is no dashboard to show (`serve --web` without a record): the server's
  // root then leads to the web page, and the dashboard's addresses are not found.
  bool dashboard = true;
  // Where serials scanned at the page go (POST /api/ports/{id}/serial); nullptr: no write.
  std::shared_ptr<SerialDesk> serials;
};

// The dashboard's web server, on threads of its own: the page, its two JSON answers, the
// event stream and the metrics for Prometheus, and the web updater page's files when it has
// them; nothing else. Its one write is a unit's serial (serial_write.h), taken only from the
// station's own page.
class DashboardServer {
 public:
  virtual ~DashboardServer() = default;
  // The port it listens on (the one chosen when the address asked for port 0).
  virtual int Port() const = 0;
  // Ends every stream and stops listening; returns once the server's threads are gone.
  virtual void Stop() = 0;
};

inline DashboardSettings DashboardSettingsFor(const HttpAddress& address,
                                              const std::string& token) {
  DashboardSettings settings;
  settings.address = address;
  settings.token = token;
  return settings;
}

// Binds and starts serving; nullptr with the reason when the address cannot be bound, or when
// this build has no web server.
std::unique_ptr<DashboardServer> StartDashboardServer(const DashboardSettings& settings,
                                                      DashboardHub& hub, std::string& error);

}  // namespace gpsfw::station
