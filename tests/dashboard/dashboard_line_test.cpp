// One view of a line: stations told apart by their names on one record, their heartbeats, and
// `serve` listing them all from a PostgreSQL server of the test's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/dashboard/dashboard_probe.h"
#include "tests/dashboard/http_probe.h"
#include "tests/record/pg_server.h"
#include "tests/record/record_rows.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/record/station_liveness.h"
#include "tools/gpsfwstation/record/utc_time.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::test {
namespace {

using nlohmann::json;
using station::record::HistoryFilter;
using station::record::StationRow;
using station::record::UpdateRow;

std::vector<UpdateRow> RowsOf(const std::string& db, const std::string& stationName) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  if (store == nullptr) return {};
  HistoryFilter filter;
  filter.station = stationName;
  filter.limit = 0;
  return store->History(filter, error);
}

json StationIn(const json& doc, const std::string& name) {
  if (!doc.is_object()) return json();
  for (const json& s : doc["stations"]) {
    if (s["name"] == name) return s;
  }
  return json();
}

std::vector<std::string> StationArgs(const std::string& image, const std::string& db,
                                     const std::string& name, const std::string& who,
                                     const std::string& logs) {
  return {ProgramPath("gpsfwstation"),
          "-i",
          image,
          "--db",
          db,
          "--station",
          name,
          "--operator",
          who,
          "--log-dir",
          logs,
          "--plain",
          "--unit-timeout",
          "90"};
}

// Two stations of one host, told apart by name, flash into one PostgreSQL server; the second
// starts while the first one's updates run, and leaves them alone. `serve` beside them lists
// both; the first, killed outright, is shown gone.
TEST(DashboardLine, TwoStationsAndServeShareOnePostgresServer) {
  TempDir dir;
  TempDir benchA;
  TempDir benchB;
  PgServer pg(dir);
  ASSERT_TRUE(pg.Ok()) << "the test's PostgreSQL server did not start";
  const std::string db = pg.ConnInfo();
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  // Bench A programs slowly, so that station B starts while A's updates run.
  Program simsA(
      {ProgramPath("gpsfwsim"), "--count", "2", "--link", benchA.File("gps%d"), "--expect",
       images.container, "--program-record-us", "30000", "--time-limit", "200"},
      dir.File("simA.out"));
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(benchA.File("gps1")); }, 10));
  std::vector<std::string> argsA =
      StationArgs(images.container, db, "line-a", "alice", dir.File("logsA"));
  argsA.insert(argsA.end(), {"--watch", "--ports", benchA.File("gps*")});
  Program stationA(argsA, dir.File("stationA.out"));
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto rows = RowsOf(db, "line-a");
        return rows.size() == 2 && rows[0].result == "running" && rows[1].result == "running";
      },
      60))
      << ReadFile(dir.File("stationA.out"));

  Receivers benchBReceivers(benchB, 2, images.container);
  std::vector<std::string> argsB =
      StationArgs(images.container, db, "line-b", "bob", dir.File("logsB"));
  argsB.insert(argsB.end(), benchBReceivers.Ports().begin(), benchBReceivers.Ports().end());
  Program stationB(argsB, dir.File("stationB.out"));
  ASSERT_EQ(stationB.Wait(120), 0) << ReadFile(dir.File("stationB.out"));
  EXPECT_EQ(ReadFile(dir.File("stationB.out")).find("left running"), std::string::npos);
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto rows = RowsOf(db, "line-a");
        return rows.size() == 2 && rows[0].result != "running" && rows[1].result != "running";
      },
      120))
      << ReadFile(dir.File("stationA.out"));

  Program serve({ProgramPath("gpsfwstation"), "serve", "--db", db, "--http", "127.0.0.1:0"},
                dir.File("serve.out"));
  const int port = DashboardPort(dir.File("serve.out"));
  ASSERT_GT(port, 0) << ReadFile(dir.File("serve.out"));
  json stations;
  ASSERT_TRUE(WaitFor(
      [&] {
        stations = GetJson(port, "/api/stations");
        return StationIn(stations, "line-a").is_object() &&
               StationIn(stations, "line-b").is_object();
      },
      20))
      << stations.dump(1);
  const json a = StationIn(stations, "line-a");
  const json b = StationIn(stations, "line-b");
  EXPECT_EQ(a["host"], station::HostName());
  EXPECT_TRUE(a["alive"]) << a.dump(1);   // still watching its bench
  EXPECT_FALSE(b["alive"]) << b.dump(1);  // ended
  EXPECT_EQ(a["operator"], "alice");
  EXPECT_EQ(b["operator"], "bob");
  for (const UpdateRow& row : RowsOf(db, "line-a")) {
    EXPECT_EQ(row.result, "completed");                      // not marked interrupted by B's start
    EXPECT_LT(b["started"].get<std::string>(), row.endUtc);  // B started while it ran
  }
  for (const json& s : {a, b}) {
    EXPECT_EQ(s["completed"], 2) << s.dump(1);
    EXPECT_EQ(s["failed"], 0) << s.dump(1);
    EXPECT_EQ(s["yield"], 100.0) << s.dump(1);
    EXPECT_EQ(s["image"], std::filesystem::path(images.container).filename().string());
    EXPECT_EQ(s["last_update"]["result"], "completed");
    EXPECT_TRUE(s["heartbeat"].is_string()) << s.dump(1);
  }

  const json history = GetJson(port, "/api/history");
  std::map<std::string, int> perStation;
  for (const json& row : history["rows"]) ++perStation[row["station"].get<std::string>()];
  EXPECT_EQ(perStation, (std::map<std::string, int>{{"line-a", 2}, {"line-b", 2}}));
  const json listed = json::parse(ShellOutput(ProgramPath("gpsfwstation") + " history --db '" + db +
                                              "' --station line-b --json"),
                                  nullptr, false);
  ASSERT_TRUE(listed.is_array());
  EXPECT_EQ(listed.size(), 2u);
  for (const json& row : listed) EXPECT_EQ(row["station"], "line-b");
  const std::string stats =
      ShellOutput(ProgramPath("gpsfwstation") + " stats --db '" + db + "' --by station");
  EXPECT_TRUE(std::regex_search(stats, std::regex("line-a +2 +2 +100\\.0%"))) << stats;
  EXPECT_TRUE(std::regex_search(stats, std::regex("line-b +2 +2 +100\\.0%"))) << stats;

  stationA.Signal(SIGKILL);
  stationA.Wait(10);
  EXPECT_TRUE(WaitFor(
      [&] { return StationIn(GetJson(port, "/api/stations"), "line-a")["alive"] == false; }, 30));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(10), 0);
}

// A station of this host is alive while its process is; one elsewhere while it beats.
TEST(StationLiveness, IsTheProcessHereAndTheHeartbeatElsewhere) {
  const auto now = std::chrono::system_clock::now();
  const auto ago = [&](int seconds) {
    return station::record::UtcText(now - std::chrono::seconds(seconds));
  };
  // A live process that goes by a station's name, and a process that has gone.
  TempDir dir;
  std::filesystem::create_symlink("/bin/sleep", dir.File("gpsfwstation-bench"));
  const pid_t running = fork();
  if (running == 0) {
    execl(dir.File("gpsfwstation-bench").c_str(), "gpsfwstation-bench", "30", nullptr);
    _exit(127);
  }
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  WaitFor(
      [&] { return ReadFile("/proc/" + std::to_string(running) + "/comm").rfind("gpsfw", 0) == 0; },
      10);
  struct Case {
    const char* what;
    std::string host;
    int pid;
    std::string heartbeat;
    bool alive;
  };
  const std::string here = station::HostName();
  const Case cases[] = {
      {"elsewhere, heard 5 s ago", "bench-9", 4242, ago(5), true},
      {"elsewhere, heard 25 s ago", "bench-9", 4242, ago(25), true},
      {"elsewhere, heard 35 s ago", "bench-9", 4242, ago(35), false},
      {"elsewhere, never heard", "bench-9", 4242, "", false},
      {"here, its process runs (an old heartbeat)", here, running, ago(300), true},
      {"here, its process is gone (a fresh heartbeat)", here, gone, ago(1), false},
  };
  for (const Case& c : cases) {
    StationRow row;
    row.station = "line-9";
    row.host = c.host;
    row.pid = c.pid;
    row.heartbeatUtc = c.heartbeat;
    EXPECT_EQ(station::record::LivenessOf(row, now, here).alive, c.alive) << c.what;
  }
  kill(running, SIGKILL);
  waitpid(running, nullptr, 0);
}

// A station with a record notes itself alive while it runs, and only its own start row.
TEST(StationHeartbeat, BeatsItsOwnStartWhileItRuns) {
  TempDir dir;
  const std::string db = dir.File("rec.db");
  std::string error;
  auto other = station::record::OpenRecordStore(db, error);
  ASSERT_NE(other, nullptr) << error;
  ASSERT_TRUE(other->Prepare("bench-9", "line-9", error)) << error;
  auto store = station::record::OpenRecordStore(db, error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->Prepare(station::HostName(), "line-1", error)) << error;
  const auto first = store->Stations(error);
  ASSERT_EQ(first.size(), 2u) << error;
  EXPECT_EQ(first[0].station, "line-1");  // by name
  EXPECT_EQ(first[0].heartbeatUtc, first[0].startUtc);
  {
    station::record::RecordWriter writer(std::move(store), dir.path());
    // Asked for while the writer sleeps with nothing to write: the beats start all the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    writer.Beat(std::chrono::milliseconds(50));
    ASSERT_TRUE(WaitFor(
        [&] {
          const auto now = other->Stations(error);
          return now.size() == 2 && now[0].heartbeatUtc > first[0].heartbeatUtc;
        },
        20));
  }
  const auto last = other->Stations(error);
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[1].station, "line-9");
  EXPECT_EQ(last[1].heartbeatUtc, first[1].heartbeatUtc);  // another station's start untouched
}

// --station names a station in every table of the line: readable text of a bounded length.
TEST(StationName, IsOneTo64PrintableCharacters) {
  struct Case {
    std::string name;
    bool taken;
  };
  const Case cases[] = {{"line-1", true},
                        {std::string(64, 'x'), true},
                        {"Linie 2 \u00e4", true},
                        {"Pr\xc3\xbc"
                         "fplatz",
                         true},
                        {"", false},
                        {std::string(65, 'x'), false},
                        {"line\t1", false},
                        {"line\n1", false},
                        {"bad\xff", false}};
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", "fw.bin", "/dev/ttyUSB0", "--station", c.name};
    try {
      const station::StationOptions options = station::ParseStationOptions(args);
      EXPECT_TRUE(c.taken) << c.name;
      EXPECT_EQ(options.stationName, c.name);
    } catch (const station::UsageError& e) {
      EXPECT_FALSE(c.taken) << c.name;
      EXPECT_NE(std::string(e.what()).find("--station"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace gpsfw::test
