#pragma once

// What the dashboard tests ask of a running station or serve: the port it said it serves on,
// and its JSON answers.
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "tests/dashboard/http_probe.h"
#include "tests/station/station_harness.h"

namespace gpsfw::test {

// The port the program said it serves the dashboard on, once it has said so; 0 if it never
// did within 20 s.
inline int DashboardPort(const std::string& outputPath) {
  int port = 0;
  WaitFor(
      [&] {
        std::smatch m;
        const std::string out = ReadFile(outputPath);
        if (!std::regex_search(out, m, std::regex("dashboard at http://127\\.0\\.0\\.1:(\\d+)/")))
          return false;
        port = std::stoi(m[1]);
        return true;
      },
      20);
  return port;
}

// A JSON answer of the dashboard; null when it did not answer 200 with JSON.
inline nlohmann::json GetJson(int port, const std::string& path) {
  const HttpReply reply = HttpGet(port, path);
  if (reply.status != 200) return nlohmann::json();
  return nlohmann::json::parse(reply.body, nullptr, false);
}

}  // namespace gpsfw::test
