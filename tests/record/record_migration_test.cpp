// A record made before the station kept its name, the unit's serial and the hook's outcome is
// brought up to date when a newer station opens it, on either database, and keeps every row.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/record/pg_server.h"
#include "tests/support/log_capture.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

// The first schema, as stations wrote it, with one ended row of host "bench-a".
const char* const kFirstSchema =
    "CREATE TABLE updates (id TEXT PRIMARY KEY, host TEXT NOT NULL, station_pid INTEGER, "
    "operator TEXT, port TEXT, port_by_id TEXT, port_by_path TEXT, usb_serial TEXT, "
    "image_path TEXT, image_size BIGINT, image_crc32 TEXT, image_sha256 TEXT, "
    "boot_loader TEXT, sfld TEXT, flash_type TEXT, start_utc TEXT NOT NULL, end_utc TEXT, "
    "duration DOUBLE PRECISION, result TEXT NOT NULL, return_code INTEGER, reason TEXT, "
    "message TEXT, retries INTEGER, wakes INTEGER, bytes BIGINT, log_path TEXT, log TEXT); "
    "CREATE INDEX updates_start ON updates (start_utc); "
    "CREATE INDEX updates_host_result ON updates (host, result); "
    "CREATE TABLE station_starts (host TEXT NOT NULL, pid INTEGER NOT NULL, "
    "start_utc TEXT NOT NULL); "
    "CREATE TABLE schema_version (version INTEGER NOT NULL); "
    "INSERT INTO schema_version VALUES (1); "
    "INSERT INTO station_starts VALUES ('bench-a', 4242, '2026-12-01T08:00:00.000Z'); "
    "INSERT INTO updates (id, host, port, image_crc32, image_sha256, start_utc, end_utc, "
    "result, return_code, log) VALUES ('old-1', 'bench-a', '/dev/ttyUSB0', 'cbf43926', "
    "'aaaa', '2026-12-01T08:00:01.000Z', '2026-12-01T08:01:00.000Z', 'completed', 0, "
    "'RetCode: 0');";

void ExpectBroughtUpToDate(const std::string& where) {
  std::string error;
  auto store = station::record::OpenRecordStore(where, error);
  ASSERT_TRUE(store) << error;
  ASSERT_TRUE(store->Prepare("bench-b", "bench-b", error)) << error;
  station::record::UpdateRow row;
  ASSERT_TRUE(store->Unit("old-1", row, error)) << error;
  EXPECT_EQ(row.result, "completed");
  EXPECT_EQ(row.log, "RetCode: 0");
  EXPECT_EQ(row.station, "bench-a");  // an old row's station is its host
  EXPECT_EQ(row.unitSerial, "");

  row.id = "new-1";
  row.station = "line-2";
  row.unitSerial = "SN 4711";
  row.hookStatus = "pending";
  ASSERT_TRUE(store->Finish(row, error)) << error;
  ASSERT_TRUE(store->Unit("new-1", row, error)) << error;
  EXPECT_EQ(row.station, "line-2");
  EXPECT_EQ(row.unitSerial, "SN 4711");
  EXPECT_EQ(row.hookStatus, "pending");
  EXPECT_EQ(store->History({}, error).size(), 2u) << error;
}

TEST(RecordMigration, AnOlderRecordKeepsEveryRowOnBothDatabases) {
  TempDir dir;
  const std::string file = dir.File("record.db");
  const std::string create = "sqlite3 '" + file + "' \"" + kFirstSchema + "\"";
  ASSERT_EQ(std::system(create.c_str()), 0);
  ExpectBroughtUpToDate(file);

  PgServer server(dir);
  ASSERT_TRUE(server.Ok()) << "the test's PostgreSQL server did not start";
  server.Query(kFirstSchema);
  ASSERT_EQ(server.Query("SELECT COUNT(*) FROM updates"), "1\n");
  ExpectBroughtUpToDate(server.ConnInfo());
}

}  // namespace
}  // namespace gpsfw::test
