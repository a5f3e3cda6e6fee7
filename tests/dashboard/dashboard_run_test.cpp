// The station as a service: started from its configuration file with the dashboard, watched
// over HTTP while it flashes, stopped with SIGTERM as systemd stops it; then its record served.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/dashboard/http_probe.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tests/support/scoped_env.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using nlohmann::json;

// The port the program said it serves the dashboard on, once it has said so.
int DashboardPort(const std::string& outputPath) {
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

json Get(int port, const std::string& path) {
  const HttpReply reply = HttpGet(port, path);
  if (reply.status != 200) return json();
  return json::parse(reply.body, nullptr, false);
}

TEST(DashboardRun, AServiceStoppedWithSigtermEndsItsUpdatesAndItsRecord) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 65536, 512);
  // Slow programming, so that SIGTERM comes in the middle of it.
  Program sims({ProgramPath("gpsfwsim"), "--count", "2", "--link", dir.File("gps%d"),
                "--program-record-us", "40000", "--time-limit", "200"},
               dir.File("sim.out"));
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.File("gps1")); }, 10));
  const std::string conf = dir.File("line1.conf");
  std::ofstream(conf) << "# a line of two fixtures\nimage=" << images.container
                      << "\nports=" << dir.File("gps*") << "\nwatch=yes\ndb=" << dir.File("rec.db")
                      << "\nhttp=127.0.0.1:0\nlog-dir=" << dir.File("logs")
                      << "\nplain=yes\noperator=line1\n";
  Program station({ProgramPath("gpsfwstation"), "--config", conf}, dir.File("station.out"));
  const int port = DashboardPort(dir.File("station.out"));
  ASSERT_GT(port, 0) << ReadFile(dir.File("station.out"));

  json state;
  ASSERT_TRUE(WaitFor(
      [&] {
        state = Get(port, "/api/state");
        if (!state.is_object() || state["units"].size() != 2) return false;
        for (const json& unit : state["units"]) {
          if (unit["phase"] != "programming" || unit["percent"].get<int>() < 1) return false;
        }
        return true;
      },
      60))
      << state.dump(1);
  EXPECT_EQ(state["station"]["mode"], "watch");
  EXPECT_EQ(state["station"]["operator"], "line1");
  EXPECT_EQ(state["image"]["size"], std::filesystem::file_size(images.container));

  const auto asked = std::chrono::steady_clock::now();
  station.Signal(SIGTERM);
  const int status = station.Wait(30);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(10));
  EXPECT_EQ(status, 1) << ReadFile(dir.File("station.out"));  // units that did not complete

  std::string error;
  auto store = station::record::OpenRecordForReading(dir.File("rec.db"), error);
  ASSERT_NE(store, nullptr) << error;
  const auto rows = store->History({}, error);
  ASSERT_EQ(rows.size(), 2u) << ReadFile(dir.File("station.out"));
  for (const auto& row : rows) {
    EXPECT_EQ(row.result, "stopped") << row.port;
    EXPECT_NE(row.log.find("RetCode"), std::string::npos) << row.log;  // the log has its end
  }

  // The record's own dashboard, without flashing anything.
  Program serve(
      {ProgramPath("gpsfwstation"), "serve", "--db", dir.File("rec.db"), "--http", "127.0.0.1:0"},
      dir.File("serve.out"));
  const int servePort = DashboardPort(dir.File("serve.out"));
  ASSERT_GT(servePort, 0) << ReadFile(dir.File("serve.out"));
  json history;
  ASSERT_TRUE(WaitFor(
      [&] {
        history = Get(servePort, "/api/history");
        return history.is_object() && history["rows"].size() == 2;
      },
      20))
      << history.dump(1);
  EXPECT_EQ(history["source"], "record");
  EXPECT_EQ(history["rows"][0]["result"], "stopped");
  EXPECT_EQ(Get(servePort, "/api/state")["station"]["mode"], "serve");
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(10), 0);
}

TEST(DashboardRun, AShortTokenIsRefusedAtStartWithAUsageStatus) {
  TempDir dir;
  const std::string station = ProgramPath("gpsfwstation");
  struct Case {
    std::vector<std::string> argv;
    std::string environment;  // GPSFW_HTTP_TOKEN
  } cases[] = {
      {{station, "-i", dir.File("fw.bin"), "--http", ":0", "--http-token", "x", "/dev/gps0"}, ""},
      {{station, "-i", dir.File("fw.bin"), "--http", ":0", "/dev/gps0"}, "fifteen-chars-x"},
      {{station, "serve", "--db", dir.File("rec.db"), "--http", ":0", "--http-token", "abc"}, ""},
  };
  for (const Case& c : cases) {
    ScopedEnv token("GPSFW_HTTP_TOKEN", c.environment);
    Program program(c.argv, dir.File("out"));
    EXPECT_EQ(program.Wait(20), 2) << c.argv[1];
    EXPECT_NE(ReadFile(dir.File("out")).find("needs at least 16"), std::string::npos)
        << ReadFile(dir.File("out"));
  }
}

}  // namespace
}  // namespace gpsfw::test
