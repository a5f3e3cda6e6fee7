// Every update of one unit, asked by its serial on either database; and a serial learnt while
// the update runs (scanned late) set in its running row, never in an ended one.
#include <gtest/gtest.h>

#include "tests/record/pg_server.h"
#include "tests/support/log_capture.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using station::record::HistoryFilter;
using station::record::UpdateRow;

UpdateRow Row(const std::string& id, const std::string& start, const std::string& serial,
              const std::string& result) {
  UpdateRow r;
  r.id = id;
  r.host = "bench-a";
  r.port = "gps0";
  r.startUtc = start;
  r.result = result;
  r.unitSerial = serial;
  return r;
}

void ExpectEveryUpdateOfAUnit(const std::string& where) {
  std::string error;
  auto store = station::record::OpenRecordStore(where, error);
  ASSERT_TRUE(store) << error;
  ASSERT_TRUE(store->Prepare("bench-a", "bench-a", error)) << error;
  for (const UpdateRow& r : {Row("u1", "2026-12-08T10:00:00.000Z", "SN 4711", "failed"),
                             Row("u2", "2026-12-09T10:00:00.000Z", "SN 4711", "completed"),
                             Row("u3", "2026-12-09T11:00:00.000Z", "SN 47111", "completed"),
                             Row("u4", "2026-12-09T12:00:00.000Z", "", "completed")}) {
    ASSERT_TRUE(store->Finish(r, error)) << error;
  }
  // Scanned while running: the running row takes it; an ended row keeps its own.
  ASSERT_TRUE(store->Begin(Row("u5", "2026-12-09T13:00:00.000Z", "", "running"), error));
  ASSERT_TRUE(store->Amend(Row("u5", "", "SN 4711", "running"), error)) << error;
  ASSERT_TRUE(store->Amend(Row("u4", "", "SN 4711", "running"), error)) << error;

  HistoryFilter filter;
  filter.unitSerial = "SN 4711";
  std::vector<std::string> ids;
  for (const UpdateRow& r : store->History(filter, error)) ids.push_back(r.id);
  EXPECT_EQ(error, "");
  EXPECT_EQ(ids, (std::vector<std::string>{"u5", "u2", "u1"}));
  UpdateRow ended;
  ASSERT_TRUE(store->Unit("u4", ended, error)) << error;
  EXPECT_EQ(ended.unitSerial, "");
  EXPECT_EQ(ended.result, "completed");
}

TEST(RecordSerial, EveryUpdateOfAUnitByItsSerialOnBothDatabases) {
  TempDir dir;
  ExpectEveryUpdateOfAUnit(dir.File("record.db"));
  PgServer server(dir);
  ASSERT_TRUE(server.Ok()) << "the test's PostgreSQL server did not start";
  ExpectEveryUpdateOfAUnit(server.ConnInfo());
}

}  // namespace
}  // namespace gpsfw::test
