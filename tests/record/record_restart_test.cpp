// A station killed outright (SIGKILL) and started again at once, while its loaders still
// run, as a service's restart would: the new station adopts the running loaders.
#include <gtest/gtest.h>

#include <map>

#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

constexpr double kRunBound = 120;
constexpr char kVerified[] = "flash verified";

std::vector<UpdateRow> RowsOf(const std::string& db) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  if (store == nullptr) return {};
  station::record::HistoryFilter all;
  all.limit = 0;
  return store->History(all, error);
}

TEST(RecordRestart, ARestartedStationAdoptsTheLoadersStillRunning) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  Receivers receivers(dir, 2, images.container);
  const std::string db = dir.File("rec.db");
  std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                   "-i",
                                   images.container,
                                   "--log-dir",
                                   dir.File("logs"),
                                   "--db",
                                   db,
                                   "--plain",
                                   "--unit-timeout",
                                   "60"};
  argv.insert(argv.end(), receivers.Ports().begin(), receivers.Ports().end());
  auto first = std::make_unique<Program>(argv, dir.File("first.out"));
  ASSERT_TRUE(WaitFor([&] { return RowsOf(db).size() == 2; }, 30))
      << ReadFile(dir.File("first.out"));
  first->Signal(SIGKILL);
  first->Wait(10);

  Program again(argv, dir.File("again.out"));
  const std::string said = [&] {
    const int status = again.Wait(kRunBound);
    EXPECT_EQ(status, 0);
    return ReadFile(dir.File("again.out"));
  }();
  EXPECT_EQ(Count(said, "left running by a station that ended; waiting for it"), 2u) << said;
  std::map<std::string, int> results;
  for (const UpdateRow& r : RowsOf(db)) {
    ++results[r.result];
    EXPECT_EQ(r.reason, "") << r.port;
    EXPECT_NE(r.log.find("RetCode: 0"), std::string::npos) << r.port;
  }
  EXPECT_EQ(results, (std::map<std::string, int>{{"completed", 2}})) << said;
  // Each receiver was flashed once: no second loader raced the first on its port.
  EXPECT_EQ(Count(receivers.Stop(), kVerified), 2u);
  // The notes of the adopted loaders are gone with them.
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("logs"))) {
    EXPECT_EQ(entry.path().extension(), ".log") << entry.path();
  }
}

}  // namespace
}  // namespace gpsfw::test
