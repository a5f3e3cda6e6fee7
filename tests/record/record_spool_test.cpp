// The spools that dead stations left: what can be read reaches the record, what cannot is
// kept aside and said, and the summary never claims a row it does not have.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/log_capture.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/run/station_record.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

int DeadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return static_cast<int>(pid);
}

std::string SpoolLine(const char* op, const UpdateRow& row) {
  return nlohmann::ordered_json{{"op", op}, {"row", station::record::RowJson(row, true)}}.dump() +
         "\n";
}

UpdateRow Refusal(const std::string& id) {
  UpdateRow row;
  row.id = id;
  row.host = station::HostName();
  row.operatorName = "line1";
  row.imageSha256 = std::string(64, 'b');
  row.startUtc = "2026-12-09T10:00:0" + id + "Z";
  row.result = "refused";
  return row;
}

TEST(RecordSpool, ADeadStationsSpoolIsWrittenAndItsCutLinesAreKeptAside) {
  TempDir dir;
  UpdateRow done = Refusal("1");
  done.result = "completed";
  done.port = "/dev/gps0";
  done.operatorName = "other";
  const std::string spool = dir.File("gpsfwstation-record-" + station::HostName() + "-" +
                                     std::to_string(DeadPid()) + ".spool");
  // A finished row, two refusals of one image by a service restarted in a loop, and a line
  // cut by the power loss that ended the station.
  WriteFile(spool, SpoolLine("finish", done) + SpoolLine("refuse", Refusal("2")) +
                       SpoolLine("refuse", Refusal("3")) + "{\"op\":\"finish\",\"row\":{\"id\"");
  station::StationOptions options;
  options.db = dir.File("rec.db");
  options.logDir = dir.path();
  std::string error;
  auto store = station::record::OpenRecordStore(options.db, error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->Prepare(station::HostName(), station::HostName(), error)) << error;
  std::string summary;
  {
    station::record::RecordWriter writer(std::move(store), dir.path());
    summary = station::RecordSummary(writer, options);
  }
  EXPECT_EQ(summary.find("every row is in"), std::string::npos) << summary;
  EXPECT_NE(summary.find("every row that could be read is in"), std::string::npos) << summary;
  EXPECT_NE(summary.find("1 line of the spools of dead stations could not be read (kept in " +
                         spool + ".unread)"),
            std::string::npos)
      << summary;
  EXPECT_FALSE(std::filesystem::exists(spool));
  EXPECT_NE(ReadFile(spool + ".unread").find("\"row\":{\"id\""), std::string::npos);

  auto reader = station::record::OpenRecordForReading(options.db, error);
  ASSERT_NE(reader, nullptr);
  station::record::HistoryFilter all;
  all.limit = 0;
  const std::vector<UpdateRow> rows = reader->History(all, error);
  ASSERT_EQ(rows.size(), 2u) << "one completed row and one refusal";
  EXPECT_EQ(rows[0].result, "refused");
  EXPECT_EQ(rows[1].result, "completed");

  // The next start has nothing left to read again, and says every row is in.
  {
    station::record::RecordWriter writer(station::record::OpenRecordStore(options.db, error),
                                         dir.path());
    EXPECT_EQ(station::RecordSummary(writer, options),
              "Record: every row is in " + options.db + "\n");
  }
}

}  // namespace
}  // namespace gpsfw::test
