// The station as a service: started from its configuration file with the dashboard, watched
// over HTTP while it flashes, stopped with SIGTERM as systemd stops it; then its record served.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/dashboard/dashboard_probe.h"
#include "tests/dashboard/http_probe.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tests/support/scoped_env.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using nlohmann::json;

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
        state = GetJson(port, "/api/state");
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
        history = GetJson(servePort, "/api/history");
        return history.is_object() && history["rows"].size() == 2;
      },
      20))
      << history.dump(1);
  EXPECT_EQ(history["source"], "record");
  EXPECT_EQ(history["rows"][0]["result"], "stopped");
  EXPECT_EQ(GetJson(servePort, "/api/state")["station"]["mode"], "serve");
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

// The port `serve` said it serves the web updater page on.
int WebPagePort(const std::string& outputPath) {
  int port = 0;
  WaitFor(
      [&] {
        std::smatch m;
        const std::string out = ReadFile(outputPath);
        if (!std::regex_search(out, m,
                               std::regex("web page at http://127\\.0\\.0\\.1:(\\d+)/web/")))
          return false;
        port = std::stoi(m[1]);
        return true;
      },
      20);
  return port;
}

struct WebFileCase {
  const char* name;
  const char* type;
  std::string bytes;
};

std::vector<WebFileCase> WriteWebFiles(TempDir& dir) {
  std::vector<WebFileCase> files = {
      {"index.html", "text/html; charset=utf-8", "<!doctype html><title>page</title>"},
      {"gpsfwload.js", "text/javascript; charset=utf-8", "var loaded = 1;"},
      {"gpsfwload.wasm", "application/wasm", std::string("\0asm\1\0\0\0", 8)},
      {"style.css", "text/css; charset=utf-8", "body { margin: 0 }"}};
  std::filesystem::create_directories(dir.File("site"));
  for (const WebFileCase& f : files) {
    std::ofstream(dir.File("site/") + f.name, std::ios::binary) << f.bytes;
  }
  return files;
}

// `serve --web` alone: the page's four files with their types and the page's policy, the
// folder's address sent on to the folder, nothing else of the folder.
TEST(DashboardRun, ServeWebServesThePageFilesAlone) {
  TempDir dir;
  const std::vector<WebFileCase> files = WriteWebFiles(dir);
  std::ofstream(dir.File("site/secret.txt")) << "not the page";
  Program serve(
      {ProgramPath("gpsfwstation"), "serve", "--web", dir.File("site"), "--http", "127.0.0.1:0"},
      dir.File("serve.out"));
  const int port = WebPagePort(dir.File("serve.out"));
  ASSERT_GT(port, 0) << ReadFile(dir.File("serve.out"));
  for (const WebFileCase& f : files) {
    const HttpReply reply = HttpGet(port, std::string("/web/") + f.name);
    EXPECT_EQ(reply.status, 200) << f.name;
    EXPECT_EQ(reply.Field("Content-Type"), f.type) << f.name;
    EXPECT_EQ(reply.body, f.bytes) << f.name;
    EXPECT_EQ(reply.Field("Content-Security-Policy"),
              "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; "
              "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; "
              "frame-ancestors 'none'")
        << f.name;
  }
  EXPECT_EQ(HttpGet(port, "/web/").body, files[0].bytes);
  const HttpReply moved = HttpGet(port, "/web");
  EXPECT_EQ(moved.status, 301);
  EXPECT_EQ(moved.Field("Location"), "/web/");
  EXPECT_EQ(HttpGet(port, "/").Field("Location"), "/web/");  // no record: no dashboard
  EXPECT_EQ(HttpGet(port, "/api/state").status, 404);
  EXPECT_EQ(HttpGet(port, "/web/secret.txt").status, 404);
  EXPECT_EQ(HttpGet(port, "/web/../site/secret.txt").status, 404);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(10), 0);
}

// A folder that is not the page is refused before anything listens, naming the file.
TEST(DashboardRun, ServeWebRefusesAFolderThatIsNotThePage) {
  TempDir dir;
  WriteWebFiles(dir);
  std::filesystem::remove(dir.File("site/gpsfwload.wasm"));
  TempDir big;
  WriteWebFiles(big);
  std::ofstream(big.File("site/gpsfwload.js"), std::ios::binary)
      << std::string(2 * 1024 * 1024 + 1, 'x');
  const std::string station = ProgramPath("gpsfwstation");
  const struct {
    std::vector<std::string> argv;
    std::string cause;
  } cases[] = {
      {{station, "serve", "--web", dir.File("site"), "--http", "127.0.0.1:0"},
       "gpsfwload.wasm: cannot read it"},
      {{station, "serve", "--web", big.File("site"), "--http", "127.0.0.1:0"},
       "gpsfwload.js: larger than 2 MB"},
      // A flashing station refuses it before it touches a port.
      {{station, "-i", dir.File("fw.bin"), "--http", "127.0.0.1:0", "--web", dir.File("site"),
        dir.File("gps0")},
       "gpsfwload.wasm: cannot read it"},
  };
  for (const auto& c : cases) {
    Program program(c.argv, dir.File("out"));
    EXPECT_EQ(program.Wait(20), 2) << c.argv[1];
    EXPECT_NE(ReadFile(dir.File("out")).find(c.cause), std::string::npos)
        << ReadFile(dir.File("out"));
  }
}

// With a token, the page is opened with it once; its own files then come with the cookie the
// server set, and only they do.
TEST(DashboardRun, ServeWebKeepsTheTokenRules) {
  TempDir dir;
  WriteWebFiles(dir);
  const std::string token = "0123456789abcdef&x";
  Program serve({ProgramPath("gpsfwstation"), "serve", "--web", dir.File("site"), "--http",
                 "127.0.0.1:0", "--http-token", token},
                dir.File("serve.out"));
  const int port = WebPagePort(dir.File("serve.out"));
  ASSERT_GT(port, 0) << ReadFile(dir.File("serve.out"));
  EXPECT_EQ(HttpGet(port, "/web/").status, 401);
  EXPECT_EQ(HttpGet(port, "/web?token=0123456789abcdef%26x").Field("Location"),
            "/web/?token=0123456789abcdef%26x");
  const HttpReply page = HttpGet(port, "/web/?token=0123456789abcdef%26x");
  EXPECT_EQ(page.status, 200);
  const std::string cookie = page.Field("Set-Cookie");
  ASSERT_EQ(cookie.rfind("gpsfw_web_token=", 0), 0u) << cookie;
  const std::string pair = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
  EXPECT_EQ(HttpGet(port, "/web/gpsfwload.wasm", pair).status, 200);
  EXPECT_EQ(HttpGet(port, "/web/gpsfwload.wasm", "Cookie: gpsfw_web_token=00\r\n").status, 401);
  EXPECT_EQ(HttpGet(port, "/api/state", pair).status, 401);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(10), 0);
}

// A port that appeared waits out its settling time before its update starts: the metrics
// count it as a unit waiting, not running.
TEST(DashboardRun, APortSettlingIsAUnitWaitingInTheMetrics) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 65536, 512);
  Program station(
      {ProgramPath("gpsfwstation"), "-i", images.container, "--ports", dir.File("gps*"), "--watch",
       "--settle", "60", "--plain", "--log-dir", dir.File("logs"), "--http", "127.0.0.1:0"},
      dir.File("station.out"));
  const int port = DashboardPort(dir.File("station.out"));
  ASSERT_GT(port, 0) << ReadFile(dir.File("station.out"));
  // A receiver plugged in while the station watches.
  Program sims(
      {ProgramPath("gpsfwsim"), "--count", "1", "--link", dir.File("gps%d"), "--time-limit", "100"},
      dir.File("sim.out"));
  std::string metrics;
  EXPECT_TRUE(WaitFor(
      [&] {
        metrics = HttpGet(port, "/metrics").body;
        return metrics.find("\ngpsfwstation_units_waiting 1\n") != std::string::npos;
      },
      20))
      << metrics;
  EXPECT_NE(metrics.find("\ngpsfwstation_units_running 0\n"), std::string::npos) << metrics;
  station.Signal(SIGTERM);
  EXPECT_EQ(station.Wait(20), 0) << ReadFile(dir.File("station.out"));
}

}  // namespace
}  // namespace gpsfw::test
