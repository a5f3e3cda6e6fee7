#pragma once

// The dashboard's web server in the test's own process, on a free loopback port.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/dashboard/http_probe.h"
#include "tools/gpsfwstation/http/dashboard_server.h"

namespace gpsfw::test {

class Dashboard {
 public:
  explicit Dashboard(const std::string& token = "", size_t maxClients = 64,
                     std::chrono::milliseconds requestBound = std::chrono::seconds(10)) {
    hub.SetState(R"({"units":[]})");
    station::DashboardSettings settings;
    settings.address.host = "127.0.0.1";
    settings.token = token;
    settings.maxClients = maxClients;
    settings.requestBound = requestBound;
    std::string error;
    server = station::StartDashboardServer(settings, hub, error);
    EXPECT_NE(server, nullptr) << error;
  }
  HttpReply Get(const std::string& target, const std::string& fields = "") const {
    return HttpGet(server->Port(), target, fields);
  }

  station::DashboardHub hub;
  std::unique_ptr<station::DashboardServer> server;
};

}  // namespace gpsfw::test
