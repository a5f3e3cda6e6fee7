// The factory's hook (--on-update-end): what it gets, what its outcome does to the row, its
// bounds, and its retry at the next start. Real stations, loaders and simulated receivers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/record/pg_server.h"
#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/run/update_hook.h"

namespace gpsfw::test {
namespace {

using station::record::UpdateRow;

constexpr double kRunBound = 120;

std::vector<UpdateRow> Rows(const std::string& db) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  EXPECT_NE(store, nullptr) << error;
  if (store == nullptr) return {};
  station::record::HistoryFilter all;
  all.limit = 0;
  std::vector<UpdateRow> rows = store->History(all, error);
  EXPECT_EQ(error, "");
  return rows;
}

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
      {"ok", "cat > " + rows + "/$GPSFW_UPDATE_ID.json", "30", "ok", ""},
      {"failing", "echo 'the MES said no'; exit 3", "30", "exit 3",
       "failed: exit 3: the MES said no"},
      {"hanging", "sleep 600", "1", "timed out", "failed: timed out"},
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
    const std::vector<UpdateRow> ended = Rows(dir.File("rec.db"));
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
    const std::string text = ReadFile(entry.path().string());
    ASSERT_EQ(Lines(text).size(), 1u) << text;
    const nlohmann::json row = nlohmann::json::parse(text);
    EXPECT_EQ(row.at("id").get<std::string>() + ".json", entry.path().filename().string());
    EXPECT_EQ(row.at("result"), "completed");
    EXPECT_EQ(row.at("hook_status"), "pending");
    EXPECT_NE(row.at("port").get<std::string>().find(dir.File("gps")), std::string::npos);
    EXPECT_FALSE(row.contains("log"));
    ++seen;
  }
  EXPECT_EQ(seen, 2u);
}

}  // namespace
}  // namespace gpsfw::test
