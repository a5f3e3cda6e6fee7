// The record on a disk that fills during a run: the log folder (with the spool) and the
// SQLite file on a small filesystem of the test's own. No row may be lost without a word,
// and the summary counts as kept only what is on disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/record/small_disk.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

constexpr double kRunBound = 120;

std::vector<UpdateRow> RowsOf(const std::string& db) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  if (store == nullptr) return {};
  station::record::HistoryFilter all;
  all.limit = 0;
  return store->History(all, error);
}

// The spool lines a station wrote on its standard error for the rows it could not keep.
std::string SpoolLinesIn(const std::string& output) {
  std::string lines;
  size_t from = 0;
  for (size_t end; (end = output.find('\n', from)) != std::string::npos; from = end + 1) {
    const std::string line = output.substr(from, end - from);
    if (line.rfind("{\"op\":", 0) == 0) lines += line + "\n";
  }
  return lines;
}

// What the spools in a log folder hold: 0 once the database has taken every row.
uintmax_t SpoolBytes(const std::string& logs) {
  uintmax_t bytes = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(logs, ec)) {
    if (entry.path().extension() == ".spool") bytes += entry.file_size(ec);
  }
  return bytes;
}

struct FullDiskCase {
  const char* name;
  bool freedDuringRun;  // the disk is freed before the station ends
};

class RecordFullDisk : public ::testing::TestWithParam<FullDiskCase> {
 protected:
  void SetUp() override {
    if (!disk.Mounted()) GTEST_SKIP() << "a tmpfs of the test's own needs root";
    images = MakeImages(dir, 1024, 4096, 512);
  }
  std::vector<std::string> Station(const std::vector<std::string>& ports) const {
    std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                     "-i",
                                     images.container,
                                     "--log-dir",
                                     logs,
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
  SmallDisk disk{dir.File("small"), "4m"};
  std::string logs = dir.File("small/logs");
  std::string db = dir.File("small/rec.db");
  ImageFiles images;
};

TEST_P(RecordFullDisk, NoRowIsLostWithoutAWord) {
  Receivers receivers(dir, 2, images.container);
  Program station(Station(receivers.Ports()), dir.File("station.out"));
  // Filled once the spool has given back its space, so that the disk is full for the rows to
  // come and not for those written already.
  ASSERT_TRUE(WaitFor([&] { return RowsOf(db).size() == 2 && SpoolBytes(logs) == 0; }, 30))
      << Out("station.out");
  disk.KeepFull();
  // Said while the station runs, as the rows of the ended units fail to reach any disk.
  ASSERT_TRUE(WaitFor(
      [&] { return Out("station.out").find("kept in memory alone") != std::string::npos; }, 60))
      << Out("station.out");
  if (GetParam().freedDuringRun) disk.Free();
  ASSERT_NE(station.Wait(kRunBound), -1);
  const std::string said = Out("station.out");
  if (GetParam().freedDuringRun) {
    EXPECT_NE(said.find("Record: every row is in"), std::string::npos) << said;
    EXPECT_NE(said.find("on disk again"), std::string::npos) << said;
    const std::vector<UpdateRow> rows = RowsOf(db);
    EXPECT_EQ(rows.size(), 2u);
    for (const UpdateRow& r : rows) EXPECT_NE(r.result, "running") << r.port;
    return;
  }
  // Nothing claims a spool that does not hold the rows: they are given whole instead.
  EXPECT_EQ(said.find("every row is in"), std::string::npos) << said;
  EXPECT_EQ(said.find("kept in " + logs), std::string::npos) << said;
  EXPECT_NE(said.find("2 rows are LOST"), std::string::npos) << said;
  const std::string lines = SpoolLinesIn(said);
  EXPECT_EQ(Count(lines, "\"op\":\"finish\""), 2u) << said;

  // Saved as the station said, they reach the record with the next start.
  disk.Free();
  { std::ofstream(logs + "/gpsfwstation-record-" + station::HostName() + "-1.spool") << lines; }
  TempDir other;
  Receivers next(other, 1, images.container);
  Program again(Station(next.Ports()), dir.File("again.out"));
  EXPECT_EQ(again.Wait(kRunBound), 0) << Out("again.out");
  EXPECT_NE(Out("again.out").find("Record: every row is in"), std::string::npos)
      << Out("again.out");
  const std::vector<UpdateRow> rows = RowsOf(db);
  EXPECT_EQ(rows.size(), 3u);
  for (const UpdateRow& r : rows) EXPECT_NE(r.result, "running") << r.port;
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordFullDisk,
                         ::testing::Values(FullDiskCase{"FreedDuringTheRun", true},
                                           FullDiskCase{"FullUntilTheEnd", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace gpsfw::test
