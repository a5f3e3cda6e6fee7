// The factory's hook (--on-update-end): what it gets, what its outcome does to the row, its
// bounds, and its retry at the next start. Real stations, loaders and simulated receivers.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/record/pg_server.h"
#include "tests/record/record_rows.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/run/update_hook.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

constexpr double kRunBound = 120;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RecordHook : public ::testing::Test {
 protected:
  void SetUp() override { images = MakeImages(dir, 1024, 4096, 512); }
  std::vector<std::string> Station(const std::vector<std::string>& ports, const std::string& hook,
                                   const std::string& timeout = "30") const {
    std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                     "-i",
                                     images.container,
                                     "--log-dir",
                                     dir.File("logs"),
                                     "--db",
                                     dir.File("rec.db"),
                                     "--plain",
                                     "--unit-timeout",
                                     "60"};
    if (!hook.empty())
      argv.insert(argv.end(), {"--on-update-end", hook, "--hook-timeout", timeout});
    argv.insert(argv.end(), ports.begin(), ports.end());
    return argv;
  }
  std::string Out(const std::string& name) const { return ReadFile(dir.File(name)); }

  TempDir dir;
  ImageFiles images;
};

// Each outcome of the hook ends in the row and, when it is no success, on standard error; the
// units end as fast whatever the hook does, and a hanging hook is killed at its time-out.
TEST_F(RecordHook, EachOutcomeIsRecordedAndNoneDelaysAnUpdate) {
  struct Case {
    const char* name;
    std::string hook;
    const char* timeout;
    const char* status;
    const char* said;  // on standard error; "" for nothing
  };
  const std::string rows = dir.File("rows");
  std::filesystem::create_directories(rows);
  const Case cases[] = {
      {"ok",
       "cat > " + rows + "/$GPSFW_UPDATE_ID.json; echo \"$GPSFW_RESULT $GPSFW_PORT " +
           "$GPSFW_HOOK_RETRY\" > " + rows + "/$GPSFW_UPDATE_ID.env",
       "30", "ok", ""},
      {"failing", "echo 'the MES said no'; exit 3", "30", "exit 3",
       "failed: exit 3: the MES said no"},
      {"hanging", "echo $$ >> " + dir.File("groups") + "; sleep 600", "1", "timed out",
       "failed: timed out"},
  };
  double fastest = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.File("rec.db"));
    Receivers receivers(dir, 2, images.container);
    Program station(Station(receivers.Ports(), c.hook, c.timeout), dir.File("station.out"));
    ASSERT_EQ(station.Wait(kRunBound), 0) << Out("station.out");
    receivers.Stop();
    const std::string out = Out("station.out");
    const std::vector<UpdateRow> ended = RecordRows(dir.File("rec.db"));
    ASSERT_EQ(ended.size(), 2u);
    for (const UpdateRow& row : ended) {
      EXPECT_EQ(row.result, "completed");
      EXPECT_EQ(row.hookStatus, c.status);
      const std::string line = "the hook for update " + row.id + " on " + row.port + " ";
      EXPECT_EQ(Count(out, line + c.said), *c.said == '\0' ? 0u : 1u) << out;
      // Measured against the first case, whose hook returns at once.
      if (fastest == 0) fastest = row.durationSeconds;
      EXPECT_LT(row.durationSeconds, fastest * 2 + 10);
    }
    EXPECT_EQ(out.find("Hook: "), std::string::npos) << out;
  }
  // What the hook got on its standard input: the row, without its log, one line.
  size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(rows)) {
    if (entry.path().extension() != ".json") continue;
    const std::string text = ReadFile(entry.path().string());
    ASSERT_EQ(Lines(text).size(), 1u) << text;
    const nlohmann::json row = nlohmann::json::parse(text);
    EXPECT_EQ(row.at("id").get<std::string>() + ".json", entry.path().filename().string());
    EXPECT_EQ(row.at("result"), "completed");
    EXPECT_EQ(row.at("hook_status"), "pending");
    EXPECT_NE(row.at("port").get<std::string>().find(dir.File("gps")), std::string::npos);
    EXPECT_FALSE(row.contains("log"));
    std::filesystem::path env = entry.path();
    EXPECT_EQ(ReadFile(env.replace_extension(".env").string()),
              "completed " + row.at("port").get<std::string>() + " 0\n");
    ++seen;
  }
  EXPECT_EQ(seen, 2u);
  // The hanging hooks were killed with their groups: no sleep is left behind.
  const std::vector<std::string> groups = Lines(ReadFile(dir.File("groups")));
  EXPECT_EQ(groups.size(), 2u);
  for (const std::string& group : groups) {
    // Killed at once; whoever adopted the shell's orphans reaps them in its own time.
    EXPECT_TRUE(WaitFor([&] { return kill(-std::stoi(group), 0) != 0 && errno == ESRCH; }, 30))
        << group;
  }
}

// A hook that failed is handed the row again at the next start, once: a third start has
// nothing left to hand it.
TEST_F(RecordHook, AFailedHookIsTriedAgainAtTheNextStartOnly) {
  Receivers receivers(dir, 1, images.container);
  const std::string calls = dir.File("calls");
  const std::string working = "echo \"$GPSFW_UPDATE_ID $GPSFW_HOOK_RETRY\" >> " + calls;
  std::vector<std::string> ids;
  std::string outputs;
  for (const std::string& hook : {std::string("exit 3"), working, working}) {
    SCOPED_TRACE(hook);
    Program station(Station(receivers.Ports(), hook), dir.File("station.out"));
    ASSERT_EQ(station.Wait(kRunBound), 0) << Out("station.out");
    outputs += Out("station.out");
    const std::vector<UpdateRow> rows = RecordRows(dir.File("rec.db"));  // newest first
    ASSERT_EQ(rows.size(), ids.size() + 1);
    ids.push_back(rows.front().id);
  }
  std::map<std::string, std::string> statuses;
  for (const UpdateRow& row : RecordRows(dir.File("rec.db"))) statuses[row.id] = row.hookStatus;
  EXPECT_EQ(statuses,
            (std::map<std::string, std::string>{{ids[0], "ok"}, {ids[1], "ok"}, {ids[2], "ok"}}));
  // The second start: its own row, and the first start's again; the third: its own alone.
  std::vector<std::string> seen = Lines(ReadFile(calls));
  std::sort(seen.begin() + 0, seen.begin() + std::min<size_t>(2, seen.size()));
  std::vector<std::string> second = {ids[0] + " 1", ids[1] + " 0"};
  std::sort(second.begin(), second.end());
  second.push_back(ids[2] + " 0");
  EXPECT_EQ(seen, second) << outputs;
}

// The store's side, the same on both databases: the status alone is set, and the rows handed
// again are the ended ones of this station whose hook never succeeded.
TEST_F(RecordHook, TheRecordKeepsTheStatusAloneAndFindsTheRowsToHandAgain) {
  PgServer server(dir);
  ASSERT_TRUE(server.Ok());
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  struct Row {
    const char* id;
    const char* host;
    const char* result;
    const char* hook;
    bool handed;
  };
  const Row table[] = {
      {"no-hook", host, "completed", "", false},
      {"ok", host, "completed", "ok", false},
      {"pending", host, "failed", "pending", true},
      {"exit", host, "completed", "exit 3", true},
      {"timed", host, "completed", "timed out", true},
      {"not-started", host, "stopped", "not started: 1000 rows already wait for it", true},
      {"running", host, "running", "pending", false},
      {"elsewhere", "other-host", "completed", "exit 3", false},
  };
  for (const std::string& where : {dir.File("store.db"), server.ConnInfo()}) {
    SCOPED_TRACE(where);
    std::string error;
    auto store = station::record::OpenRecordStore(where, error);
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->Prepare(host, host, error)) << error;
    for (const Row& r : table) {
      UpdateRow row;
      row.id = r.id;
      row.host = r.host;
      row.station = r.host;
      row.stationPid = 1;  // no station: its rows are nobody's
      row.startUtc = "2026-12-09T07:54:18.123Z";
      row.endUtc = *r.result == 'r' ? "" : "2026-12-09T07:55:18.123Z";
      row.result = r.result;
      row.hookStatus = r.hook;
      row.log = "the log";
      ASSERT_TRUE(store->Finish(row, error)) << error;
    }
    std::set<std::string> handed;
    for (const UpdateRow& row : store->HookBacklog("", host, 100, error)) {
      handed.insert(row.id);
      EXPECT_EQ(row.log, "");
    }
    EXPECT_EQ(error, "");
    std::set<std::string> expected;
    for (const Row& r : table) {
      if (r.handed) expected.insert(r.id);
    }
    EXPECT_EQ(handed, expected);
    EXPECT_EQ(store->HookBacklog("other-host", "", 100, error).size(), 1u);
    EXPECT_EQ(store->HookBacklog("", host, 2, error).size(), 2u);

    ASSERT_TRUE(store->SetHookStatus("exit", "ok", error)) << error;
    UpdateRow after;
    ASSERT_TRUE(store->Unit("exit", after, error)) << error;
    EXPECT_EQ(after.hookStatus, "ok");
    EXPECT_EQ(after.log, "the log");
    EXPECT_EQ(after.result, "completed");
    EXPECT_EQ(store->HookBacklog("", host, 100, error).size(), expected.size() - 1);
  }

  // A server that is away: the status waits in the spool, and reaches the row once it is back.
  {
    std::string error;
    std::filesystem::create_directories(dir.File("spool"));
    station::record::RecordWriter writer(station::record::OpenRecordStore(server.ConnInfo(), error),
                                         dir.File("spool"));
    ASSERT_TRUE(server.Stop());
    UpdateRow row;
    row.id = "timed";
    row.hookStatus = "ok";
    writer.SetHookStatus(row);
    EXPECT_FALSE(writer.Drain(std::chrono::seconds(3)));
    EXPECT_NE(ReadFile(writer.SpoolPath()).find("{\"op\":\"hook\",\"row\":{\"id\":\"timed\""),
              std::string::npos);
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(writer.Drain(std::chrono::seconds(60))) << writer.LastError();
  }
  EXPECT_EQ(server.Query("SELECT hook_status, log FROM updates WHERE id = 'timed'"),
            "ok|the log\n");
}

// The hook's own bounds, without a station: at most four at once, and a row beyond the
// queue's bound is said and given its status rather than dropped.
TEST(UpdateHook, AtMostFourRunAtOnceAndAFullQueueIsSaid) {
  TempDir dir;
  const std::string trace = dir.File("trace");
  station::HookSettings settings;
  settings.command = "echo +$GPSFW_UPDATE_ID >> " + trace + "; sleep 0.3; echo - >> " + trace;
  settings.timeoutSeconds = 30;
  {
    station::UpdateHook hook(settings, nullptr);
    for (int i = 0; i < 7; ++i) {
      UpdateRow row;
      row.id = "row" + std::to_string(i);
      hook.Hand(row);
    }
    EXPECT_EQ(hook.Finish(std::chrono::seconds(60)), 0u);
    std::vector<station::HookOutcome> outcomes = hook.TakeOutcomes();
    ASSERT_EQ(outcomes.size(), 7u);
    for (const auto& outcome : outcomes) EXPECT_EQ(outcome.status, "ok") << outcome.id;
  }
  int now = 0;
  int most = 0;
  for (const std::string& line : Lines(ReadFile(trace))) {
    now += line[0] == '+' ? 1 : -1;
    most = std::max(most, now);
  }
  EXPECT_EQ(most, 4);

  settings.command = "sleep 600";
  station::UpdateHook hook(settings, nullptr);
  const size_t handed = station::UpdateHook::kQueueBound + station::UpdateHook::kAtOnce + 3;
  for (size_t i = 0; i < handed; ++i) hook.Hand(UpdateRow{});
  size_t refused = 0;
  for (const auto& outcome : hook.TakeOutcomes()) {
    EXPECT_EQ(outcome.status, "not started: 1000 rows already wait for it");
    ++refused;
  }
  EXPECT_GE(refused, 3u);
  EXPECT_LE(refused, 3u + station::UpdateHook::kAtOnce);
  // The station ends: what still runs is killed, and every other row is counted as left.
  EXPECT_EQ(hook.Finish(std::chrono::milliseconds(100)), handed - refused);
}

}  // namespace
}  // namespace gpsfw::test
