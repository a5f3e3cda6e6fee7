// The record of real station runs: gpsfwstation, its loaders and simulated receivers on ptys,
// writing into SQLite and into a PostgreSQL server of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "tests/record/pg_server.h"
#include "tests/record/record_rows.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

constexpr double kRunBound = 120;

// Every row, by port.
std::vector<UpdateRow> Rows(const std::string& db) {
  std::vector<UpdateRow> rows = RecordRows(db);
  std::sort(rows.begin(), rows.end(),
            [](const UpdateRow& a, const UpdateRow& b) { return a.port < b.port; });
  return rows;
}

// The number of rows while a station may still be making the record: -1 until it can be read.
int RowsSoFar(const std::string& db) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  if (store == nullptr) return -1;
  station::record::HistoryFilter all;
  all.limit = 0;
  const std::vector<UpdateRow> rows = store->History(all, error);
  return error.empty() ? static_cast<int>(rows.size()) : -1;
}

class RecordRun : public ::testing::Test {
 protected:
  void SetUp() override { images = MakeImages(dir, 1024, 4096, 512); }
  std::vector<std::string> Station(const std::vector<std::string>& ports, const std::string& db,
                                   const std::string& logs = "logs") const {
    std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                     "-i",
                                     images.container,
                                     "--log-dir",
                                     dir.File(logs),
                                     "--db",
                                     db,
                                     "--plain",
                                     "--unit-timeout",
                                     "60"};
    argv.insert(argv.end(), ports.begin(), ports.end());
    return argv;
  }
  std::string Out(const std::string& name) const { return ReadFile(dir.File(name)); }

  TempDir dir;
  ImageFiles images;
};

TEST_F(RecordRun, EveryUnitIsRecordedWithEveryField) {
  Receivers receivers(dir, 2, images.container);
  std::vector<std::string> argv = Station(receivers.Ports(), dir.File("rec.db"));
  argv.insert(argv.end(), {"--operator", "alice"});
  Program station(argv, dir.File("station.out"));
  ASSERT_EQ(station.Wait(kRunBound), 0) << Out("station.out");
  EXPECT_NE(Out("station.out").find("Record: every row is in"), std::string::npos);

  const std::vector<UpdateRow> rows = Rows(dir.File("rec.db"));
  ASSERT_EQ(rows.size(), 2u);
  const std::string sha = ShellOutput("sha256sum " + images.container).substr(0, 64);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::set<std::string> ids;
  for (size_t i = 0; i < rows.size(); ++i) {
    const UpdateRow& r = rows[i];
    ids.insert(r.id);
    EXPECT_EQ(r.port, receivers.Port(static_cast<int>(i)));
    EXPECT_EQ(r.host, host);
    EXPECT_EQ(r.operatorName, "alice");
    EXPECT_EQ(r.imagePath, images.container);
    EXPECT_EQ(r.imageSize, std::filesystem::file_size(images.container));
    EXPECT_EQ(r.imageCrc32.size(), 8u);
    EXPECT_EQ(r.imageSha256, sha);
    EXPECT_EQ(r.identity.bootLoader, "BL 2.04");
    EXPECT_EQ(r.identity.sfld, "SFLD 1.10");
    EXPECT_EQ(r.identity.flashType, "5");
    EXPECT_EQ(r.result, "completed");
    EXPECT_EQ(r.returnCode, 0);
    EXPECT_EQ(r.reason, "");
    EXPECT_EQ(r.bytes, 20480u);
    EXPECT_GE(r.wakes, 1);
    EXPECT_LT(r.startUtc, r.endUtc);
    EXPECT_GT(r.durationSeconds, 1);
    EXPECT_EQ(r.log, ReadFile(r.logPath));
    EXPECT_NE(r.log.find("RetCode: 0\r\n"), std::string::npos);
  }
  EXPECT_EQ(ids.size(), 2u);
}

TEST_F(RecordRun, AFailedUnitKeepsTheLoadersCodeAndReason) {
  Receivers receivers(dir, 2, images.container, {"--reject", "flash:0:0x81:always"});
  std::vector<std::string> argv = Station(receivers.Ports(), dir.File("rec.db"));
  argv[argv.size() - 3] = "15";  // the unit's time limit
  Program station(argv, dir.File("station.out"));
  ASSERT_EQ(station.Wait(kRunBound), 1) << Out("station.out");
  const std::vector<UpdateRow> rows = Rows(dir.File("rec.db"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].result, "completed");
  EXPECT_EQ(rows[1].result, "timed_out");
  EXPECT_NE(rows[1].reason, "");
  EXPECT_NE(rows[1].log.find("RetCode"), std::string::npos) << rows[1].log;
}

// A station killed outright leaves a record that is whole; the next start on the host marks
// what the dead one left running.
TEST_F(RecordRun, AStationKilledInMidRunLeavesASoundRecord) {
  Receivers receivers(dir, 2, images.container);
  const std::string db = dir.File("rec.db");
  Program station(Station(receivers.Ports(), db), dir.File("station.out"));
  ASSERT_TRUE(WaitFor([&] { return RowsSoFar(db) == 2; }, 30));
  station.Signal(SIGKILL);
  station.Wait(10);
  EXPECT_EQ(ShellOutput("sqlite3 " + db + " 'PRAGMA integrity_check'"), "ok\n");
  const std::vector<UpdateRow> left = Rows(db);
  for (const UpdateRow& r : left) EXPECT_EQ(r.result, "running");
  // The loaders do not die with their station: they end their updates and their logs.
  for (const UpdateRow& r : left) {
    EXPECT_TRUE(WaitFor(
        [&] { return ReadFile(r.logPath).find("RetCode: 0\r\n") != std::string::npos; }, 60))
        << r.logPath;
  }

  TempDir other;
  Receivers next(other, 1, images.container);
  Program again(Station(next.Ports(), db, "logs2"), dir.File("again.out"));
  ASSERT_EQ(again.Wait(kRunBound), 0) << Out("again.out");
  EXPECT_NE(Out("again.out").find("2 updates left running"), std::string::npos) << Out("again.out");
  std::map<std::string, int> results;
  for (const UpdateRow& r : Rows(db)) ++results[r.result];
  EXPECT_EQ(results, (std::map<std::string, int>{{"completed", 3}}));
  for (const UpdateRow& r : Rows(db)) {
    if (r.port == next.Port(0)) continue;
    EXPECT_NE(r.message.find("recorded from the loader's log"), std::string::npos) << r.message;
    EXPECT_EQ(r.log, ReadFile(r.logPath));
  }
  EXPECT_EQ(ShellOutput("sqlite3 " + db + " 'PRAGMA integrity_check'"), "ok\n");
}

TEST_F(RecordRun, TwoStationsShareOneSqliteFile) {
  TempDir other;
  Receivers first(dir, 2, images.container);
  Receivers second(other, 2, images.container);
  const std::string db = dir.File("rec.db");
  Program a(Station(first.Ports(), db, "logs-a"), dir.File("a.out"));
  Program b(Station(second.Ports(), db, "logs-b"), dir.File("b.out"));
  EXPECT_EQ(a.Wait(kRunBound), 0) << Out("a.out");
  EXPECT_EQ(b.Wait(kRunBound), 0) << Out("b.out");
  const std::vector<UpdateRow> rows = Rows(db);
  EXPECT_EQ(rows.size(), 4u);
  for (const UpdateRow& r : rows) EXPECT_EQ(r.result, "completed") << r.port;
}

class PgRecordRun : public RecordRun {
 protected:
  void SetUp() override {
    RecordRun::SetUp();
    ASSERT_TRUE(server.Ok()) << "the test's PostgreSQL server did not start";
  }
  PgServer server{dir};
};

TEST_F(PgRecordRun, TwoStationsWriteAtOnce) {
  TempDir other;
  Receivers first(dir, 2, images.container);
  Receivers second(other, 2, images.container);
  Program a(Station(first.Ports(), server.ConnInfo(), "logs-a"), dir.File("a.out"));
  Program b(Station(second.Ports(), server.ConnInfo(), "logs-b"), dir.File("b.out"));
  EXPECT_EQ(a.Wait(kRunBound), 0) << Out("a.out");
  EXPECT_EQ(b.Wait(kRunBound), 0) << Out("b.out");
  EXPECT_EQ(server.Query("SELECT result, count(*) FROM updates GROUP BY result"), "completed|4\n");
  EXPECT_EQ(server.Query("SELECT count(DISTINCT boot_loader || sfld || flash_type) FROM updates"),
            "1\n");
}

// The server goes away while the units run: the updates go on, and every row arrives once
// the server is back.
TEST_F(PgRecordRun, AServerStoppedInMidRunGetsEveryRowOnce) {
  Receivers receivers(dir, 2, images.container);
  Program station(Station(receivers.Ports(), server.ConnInfo()), dir.File("station.out"));
  ASSERT_TRUE(WaitFor([&] { return server.Query("SELECT count(*) FROM updates") == "2\n"; }, 30));
  ASSERT_TRUE(server.Stop());
  std::this_thread::sleep_for(std::chrono::seconds(12));  // the units end meanwhile
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(station.Wait(kRunBound), 0) << Out("station.out");
  EXPECT_EQ(
      server.Query("SELECT result, count(*), count(DISTINCT id) FROM updates GROUP BY result"),
      "completed|2|2\n")
      << Out("station.out");
}

}  // namespace
}  // namespace gpsfw::test

namespace gpsfw::test {
namespace {

// A line flashes the released file and nothing else: another image reaches no port, and the
// record holds one row for the station, not one per port.
TEST_F(RecordRun, AnImageOtherThanTheExpectedOneIsOneRefusedRow) {
  Receivers receivers(dir, 2, images.container);
  std::vector<std::string> argv = Station(receivers.Ports(), dir.File("rec.db"));
  argv.insert(argv.end(), {"--expect-sha256", std::string(64, 'A')});
  Program station(argv, dir.File("station.out"));
  EXPECT_EQ(station.Wait(kRunBound), 3);
  EXPECT_NE(Out("station.out").find("not the expected " + std::string(64, 'a')), std::string::npos)
      << Out("station.out");
  EXPECT_NE(Out("station.out").find("no port was touched"), std::string::npos);
  // A service restarted in a loop refuses the same image again: no row per start.
  for (int start = 0; start < 2; ++start) {
    Program again(argv, dir.File("again.out"));
    EXPECT_EQ(again.Wait(kRunBound), 3) << Out("again.out");
  }
  const std::vector<UpdateRow> rows = Rows(dir.File("rec.db"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "refused");
  EXPECT_EQ(rows[0].port, "");
  // Another image refused is news: a row of its own.
  Program other(
      {ProgramPath("gpsfwstation"), "-i", images.bare, "--log-dir", dir.File("logs"), "--db",
       dir.File("rec.db"), "--plain", "--expect-sha256", std::string(64, 'A'), receivers.Port(0)},
      dir.File("other.out"));
  EXPECT_EQ(other.Wait(kRunBound), 3) << Out("other.out");
  EXPECT_EQ(Rows(dir.File("rec.db")).size(), 2u);
  EXPECT_EQ(receivers.Stop().find("flash verified"), std::string::npos);
}

}  // namespace
}  // namespace gpsfw::test
