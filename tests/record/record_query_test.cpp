// Questions answered from a recorded database: the filters of history, the groups and the
// outliers of stats, and the record's own guards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tools/gpsfwstation/record/record_stats.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using station::record::HistoryFilter;
using station::record::UpdateRow;

UpdateRow Row(const std::string& id, const std::string& port, const std::string& start,
              const std::string& result, double seconds, const std::string& reason = "") {
  UpdateRow r;
  r.id = id;
  r.host = port < "gps5" ? "bench-a" : "bench-b";
  r.port = port;
  r.imagePath = id < "m" ? "/rel/fw-1.2.bin" : "/rel/fw-1.3.bin";
  r.imageSha256 = id < "m" ? std::string(64, 'a') : "b" + std::string(63, 'c');
  r.startUtc = start;
  r.endUtc = start;
  r.durationSeconds = seconds;
  r.result = result;
  r.reason = reason;
  r.retries = result == "completed" ? 0 : 3;
  r.log = "Boot loader\r\nRetCode: 0\r\n\xB0 odd byte";
  return r;
}

struct Ran {
  int status = -1;
  std::string output;  // standard output and error together
};

Ran RunCommand(const std::vector<std::string>& argv) {
  std::string command;
  for (const std::string& a : argv) command += "'" + a + "' ";
  Ran ran;
  FILE* pipe = popen((command + "2>&1").c_str(), "r");
  if (pipe == nullptr) return ran;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) ran.output.append(buffer, n);
  const int status = pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

class RecordQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    store = station::record::OpenRecordStore(db, error);
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->Prepare("bench-a", "bench-a", error)) << error;
    const std::vector<UpdateRow> rows = {
        Row("a1", "gps1", "2026-12-07T10:00:00.000Z", "completed", 10),
        Row("a2", "gps1", "2026-12-08T10:00:00.000Z", "completed", 12),
        Row("a3", "gps2", "2026-12-08T11:00:00.000Z", "completed", 11),
        Row("a4", "gps10", "2026-12-08T12:00:00.000Z", "failed", 30, "gave_up"),
        Row("n5", "gps10", "2026-12-09T09:00:00.000Z", "timed_out", 60, "timed_out"),
        Row("n6", "gps10", "2026-12-09T10:00:00.000Z", "completed", 14),
        Row("n7", "gps2", "2026-12-09T11:00:00.000Z", "completed", 9),
    };
    for (const UpdateRow& r : rows) ASSERT_TRUE(store->Finish(r, error)) << error;
  }
  std::vector<std::string> Ids(const HistoryFilter& filter) {
    std::string error;
    std::vector<std::string> ids;
    for (const UpdateRow& r : store->History(filter, error)) ids.push_back(r.id);
    EXPECT_EQ(error, "");
    return ids;
  }

  TempDir dir;
  std::string db = dir.File("rec.db");
  std::unique_ptr<station::record::RecordStore> store;
};

TEST_F(RecordQuery, HistoryFiltersNewestFirst) {
  struct Case {
    const char* name;
    HistoryFilter filter;
    std::vector<std::string> ids;
  };
  auto with = [](auto set) {
    HistoryFilter f;
    set(f);
    return f;
  };
  const Case cases[] = {
      {"all", HistoryFilter{}, {"n7", "n6", "n5", "a4", "a3", "a2", "a1"}},
      {"since", with([](HistoryFilter& f) { f.since = "2026-12-09"; }), {"n7", "n6", "n5"}},
      {"until", with([](HistoryFilter& f) { f.until = "2026-12-08"; }), {"a1"}},
      {"port", with([](HistoryFilter& f) { f.port = "gps10"; }), {"n6", "n5", "a4"}},
      {"result",
       with([](HistoryFilter& f) {
         f.result = "completed";
         f.limit = 2;
       }),
       {"n7", "n6"}},
      {"image name", with([](HistoryFilter& f) { f.image = "fw-1.3.bin"; }), {"n7", "n6", "n5"}},
      {"sha prefix", with([](HistoryFilter& f) { f.image = "aaaa"; }), {"a4", "a3", "a2", "a1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Ids(c.filter), c.ids) << c.name;
}

// A row written again (from a spool, after a lost answer) stays one row, and a late "running"
// never sets an ended row back.
TEST_F(RecordQuery, RowsAreWrittenOnceByTheirId) {
  std::string error;
  UpdateRow again = Row("a4", "gps10", "2026-12-08T12:00:00.000Z", "running", 0);
  ASSERT_TRUE(store->Begin(again, error)) << error;
  ASSERT_TRUE(store->Finish(Row("a4", "gps10", "2026-12-08T12:00:00.000Z", "failed", 31), error));
  UpdateRow row;
  ASSERT_TRUE(store->Unit("a4", row, error)) << error;
  EXPECT_EQ(row.result, "failed");
  EXPECT_EQ(row.durationSeconds, 31);
  // A byte that is no UTF-8 is kept as Latin-1, so that PostgreSQL takes the same text.
  EXPECT_EQ(row.log, "Boot loader\r\nRetCode: 0\r\n\xC2\xB0 odd byte");
  EXPECT_EQ(Ids(HistoryFilter{}).size(), 7u);
}

TEST_F(RecordQuery, StatsSetTheFailingFixtureApart) {
  std::string error;
  const auto byPort = store->Stats(station::record::StatsBy::kPort, error);
  ASSERT_EQ(byPort.size(), 3u);
  EXPECT_EQ(byPort[1].key, "gps10");
  EXPECT_EQ(byPort[1].completed, 1);
  EXPECT_NEAR(byPort[1].yield, 1.0 / 3, 1e-9);
  EXPECT_DOUBLE_EQ(byPort[1].slowestSeconds, 60);
  EXPECT_EQ(byPort[1].retries, 6);
  EXPECT_TRUE(byPort[1].outlier);
  EXPECT_FALSE(byPort[0].outlier || byPort[2].outlier);
  const auto byDay = store->Stats(station::record::StatsBy::kDay, error);
  ASSERT_EQ(byDay.size(), 3u);
  EXPECT_EQ(byDay[2].key, "2026-12-09");

  const Ran stats = RunCommand({ProgramPath("gpsfwstation"), "stats", "--db", db});
  EXPECT_EQ(stats.status, 0);
  EXPECT_NE(stats.output.find("! gps10"), std::string::npos) << stats.output;
  const Ran csv =
      RunCommand({ProgramPath("gpsfwstation"), "history", "--db", db, "--csv", "--limit", "1"});
  EXPECT_EQ(csv.output.substr(0, 14), "id,host,statio") << csv.output;
  EXPECT_NE(csv.output.find("\nn7,bench-a,"), std::string::npos) << csv.output;
}

TEST(RecordGuards, AReaderNeverMakesARecordAndAStationNeedsAWritableOne) {
  TempDir dir;
  std::string error;
  EXPECT_EQ(station::record::OpenRecordForReading(dir.File("none.db"), error), nullptr);
  EXPECT_NE(error.find("no record at"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.db")));
  const Ran history =
      RunCommand({ProgramPath("gpsfwstation"), "history", "--db", dir.File("none.db")});
  EXPECT_EQ(history.status, 1);

  // A folder where the file should be: the station ends before any port, saying why.
  std::filesystem::create_directories(dir.File("folder.db"));
  WriteFile(dir.File("fw.bin"), "any");
  const Ran station =
      RunCommand({ProgramPath("gpsfwstation"), "-i", dir.File("fw.bin"), "--db",
                  dir.File("folder.db"), "--log-dir", dir.File("logs"), "/dev/gps-none"});
  EXPECT_EQ(station.status, 1);
  EXPECT_NE(station.output.find("no port was touched"), std::string::npos) << station.output;
}

}  // namespace
}  // namespace gpsfw::test

namespace gpsfw::test {
namespace {

TEST(RecordGuards, AServerIsToldFromAFileByItsForm) {
  struct Case {
    const char* where;
    bool server;
  };
  const Case cases[] = {
      {"postgresql://station@db/line", true},
      {"postgres://db/line", true},
      {"host=/tmp/pg port=5432 dbname=line", true},
      {" dbname = line", true},
      {"record.db", false},
      {"/data/line=3/record.db", false},
      {"./a=b.db", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(station::record::IsServerAddress(c.where), c.server) << c.where;
  }
}

}  // namespace
}  // namespace gpsfw::test
