// The station's metrics for Prometheus: the text of a small board, the histogram's buckets,
// the counters' life beyond the units a watching station forgets, and /metrics on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "tests/dashboard/dashboard_fixture.h"
#include "tools/gpsfwstation/http/metrics_text.h"

namespace gpsfw::station {
namespace {

Unit& EndedUnit(Board& board, const std::string& port, Result result, int seconds) {
  auto unit = std::make_unique<Unit>();
  unit->port = port;
  unit->start = board.start;
  unit->end = board.start + std::chrono::seconds(seconds);
  unit->result = result;
  board.units.push_back(std::move(unit));
  return *board.units.back();
}

// Two ended updates on gps0, a failed one on a port whose name needs every escape, and one
// running on gps2.
Board SmallBoard() {
  Board board;
  board.image.path = "line \"A\"\\fw.bin";
  board.image.sha256 = std::string(64, 'a');
  board.start = Clock::now();
  board.startWall = WallClock::time_point(std::chrono::seconds(1796850000));
  EndedUnit(board, "gps0", Result::kCompleted, 12).progress.wakes = 1;
  Unit& again = EndedUnit(board, "gps0", Result::kCompleted, 25);
  again.progress.wakes = 2;
  again.progress.retries = 1;
  Unit& failed = EndedUnit(board, "bad\"port\\name\n1", Result::kFailed, 70);
  failed.progress.doneReason = "port_busy";
  failed.progress.retries = 3;
  for (const auto& unit : board.units) board.tally.Add(*unit);
  EndedUnit(board, "gps2", Result::kRunning, 0);
  board.waiting = 2;
  board.recordWaiting = 4;
  board.recordUnkept = 1;
  return board;
}

std::vector<std::string> Lines(const std::string& text, bool histogram) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const bool sample = line.rfind("gpsfwstation_update_duration_seconds_", 0) == 0;
    if (sample == histogram) lines.push_back(line);
  }
  return lines;
}

TEST(MetricsText, NamesLabelsAndEscapesOfASmallBoard) {
  const std::string text = MetricsText(SmallBoard());
  const std::string port = R"(bad\"port\\name\n1)";
  const std::vector<std::string> expected = {
      "# HELP gpsfwstation_updates_ended_total Updates ended since the station started, by "
      "result and port.",
      "# TYPE gpsfwstation_updates_ended_total counter",
      "gpsfwstation_updates_ended_total{result=\"completed\",port=\"" + port + "\"} 0",
      "gpsfwstation_updates_ended_total{result=\"failed\",port=\"" + port + "\"} 1",
      "gpsfwstation_updates_ended_total{result=\"timed_out\",port=\"" + port + "\"} 0",
      "gpsfwstation_updates_ended_total{result=\"stopped\",port=\"" + port + "\"} 0",
      "gpsfwstation_updates_ended_total{result=\"completed\",port=\"gps0\"} 2",
      "gpsfwstation_updates_ended_total{result=\"failed\",port=\"gps0\"} 0",
      "gpsfwstation_updates_ended_total{result=\"timed_out\",port=\"gps0\"} 0",
      "gpsfwstation_updates_ended_total{result=\"stopped\",port=\"gps0\"} 0",
      // A running unit's port has its series from the start.
      "gpsfwstation_updates_ended_total{result=\"completed\",port=\"gps2\"} 0",
      "gpsfwstation_updates_ended_total{result=\"failed\",port=\"gps2\"} 0",
      "gpsfwstation_updates_ended_total{result=\"timed_out\",port=\"gps2\"} 0",
      "gpsfwstation_updates_ended_total{result=\"stopped\",port=\"gps2\"} 0",
      "# HELP gpsfwstation_update_failures_total Updates that did not complete, by port and "
      "reason code.",
      "# TYPE gpsfwstation_update_failures_total counter",
      "gpsfwstation_update_failures_total{port=\"" + port + "\",reason=\"port_busy\"} 1",
      "# HELP gpsfwstation_update_duration_seconds How long the ended updates took, by result.",
      "# TYPE gpsfwstation_update_duration_seconds histogram",
      "# HELP gpsfwstation_retries_total Retries of the ended updates, by port.",
      "# TYPE gpsfwstation_retries_total counter",
      "gpsfwstation_retries_total{port=\"" + port + "\"} 3",
      "gpsfwstation_retries_total{port=\"gps0\"} 1",
      "gpsfwstation_retries_total{port=\"gps2\"} 0",
      "# HELP gpsfwstation_wakeups_total Wake-ups sent to the receivers in the ended updates, by "
      "port.",
      "# TYPE gpsfwstation_wakeups_total counter",
      "gpsfwstation_wakeups_total{port=\"" + port + "\"} 0",
      "gpsfwstation_wakeups_total{port=\"gps0\"} 3",
      "gpsfwstation_wakeups_total{port=\"gps2\"} 0",
      "# HELP gpsfwstation_units_running Updates running now.",
      "# TYPE gpsfwstation_units_running gauge",
      "gpsfwstation_units_running 1",
      "# HELP gpsfwstation_units_waiting Ports whose receiver is there and whose update has not "
      "started yet.",
      "# TYPE gpsfwstation_units_waiting gauge",
      "gpsfwstation_units_waiting 2",
      "# HELP gpsfwstation_record_rows_waiting Record rows not yet in the database (in the spool "
      "or in memory).",
      "# TYPE gpsfwstation_record_rows_waiting gauge",
      "gpsfwstation_record_rows_waiting 4",
      "# HELP gpsfwstation_record_rows_unkept Record rows in memory alone: the database and the "
      "spool both failed.",
      "# TYPE gpsfwstation_record_rows_unkept gauge",
      "gpsfwstation_record_rows_unkept 1",
      "# HELP gpsfwstation_hooks_failing Ended updates whose hook failed and has not succeeded "
      "since.",
      "# TYPE gpsfwstation_hooks_failing gauge",
      "gpsfwstation_hooks_failing 0",
      "# HELP gpsfwstation_image_info The image the station flashes.",
      "# TYPE gpsfwstation_image_info gauge",
      "gpsfwstation_image_info{sha256=\"" + std::string(64, 'a') +
          R"(",file="line \"A\"\\fw.bin"} 1)",
      "# HELP gpsfwstation_start_time_seconds When the station started, in seconds since the "
      "Unix epoch.",
      "# TYPE gpsfwstation_start_time_seconds gauge",
      "gpsfwstation_start_time_seconds 1796850000.000",
  };
  EXPECT_EQ(Lines(text, false), expected) << text;
}

TEST(MetricsText, TheHistogramsBucketsAreCumulativeAndInfIsTheCount) {
  const std::vector<std::string> lines = Lines(MetricsText(SmallBoard()), true);
  const std::vector<std::string> completed = {
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="10"} 0)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="20"} 1)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="30"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="45"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="60"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="90"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="120"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="180"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="300"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="450"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="600"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="900"} 2)",
      R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="+Inf"} 2)",
      R"(gpsfwstation_update_duration_seconds_sum{result="completed"} 37.000)",
      R"(gpsfwstation_update_duration_seconds_count{result="completed"} 2)",
  };
  ASSERT_EQ(lines.size(), 4 * completed.size());  // completed, failed, timed out, stopped
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 15), completed);
  // 70 s is counted from its bucket on; a bound is the bucket's upper end, included.
  EXPECT_EQ(lines[19], R"(gpsfwstation_update_duration_seconds_bucket{result="failed",le="60"} 0)");
  EXPECT_EQ(lines[20], R"(gpsfwstation_update_duration_seconds_bucket{result="failed",le="90"} 1)");
  EXPECT_EQ(lines[29], R"(gpsfwstation_update_duration_seconds_count{result="failed"} 1)");
  EXPECT_EQ(lines[59], R"(gpsfwstation_update_duration_seconds_count{result="stopped"} 0)");
  // Every result's buckets only grow, up to +Inf, which is its count.
  for (size_t first = 0; first < lines.size(); first += completed.size()) {
    uint64_t previous = 0;
    for (size_t i = first; i < first + 13; ++i) {
      const uint64_t count = std::stoull(lines[i].substr(lines[i].rfind(' ') + 1));
      EXPECT_GE(count, previous) << lines[i];
      previous = count;
    }
    EXPECT_NE(lines[first + 12].find("le=\"+Inf\"}"), std::string::npos) << lines[first + 12];
    const std::string& total = lines[first + 14];
    EXPECT_EQ(std::stoull(total.substr(total.rfind(' ') + 1)), previous) << total;
  }
}

// A watching station forgets its old units; what they counted stays.
TEST(MetricsText, CountersOutliveTheUnitsAWatchingStationForgets) {
  Board board;
  board.watching = true;
  board.start = Clock::now();
  for (int i = 0; i < 250; ++i) {
    Unit& unit = EndedUnit(board, "gps0", Result::kCompleted, 30);
    unit.progress.wakes = 1;
    board.tally.Add(unit);
  }
  EXPECT_EQ(board.DropOldEnded().size(), 50u);
  const std::string text = MetricsText(board);
  for (const char* line : {
           R"(gpsfwstation_updates_ended_total{result="completed",port="gps0"} 250)",
           R"(gpsfwstation_wakeups_total{port="gps0"} 250)",
           R"(gpsfwstation_update_duration_seconds_bucket{result="completed",le="30"} 250)",
           R"(gpsfwstation_update_duration_seconds_count{result="completed"} 250)",
       }) {
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line;
  }
}

TEST(MetricsText, ALoaderThatMakesUpReasonsCannotGrowTheSeriesWithoutBound) {
  Board board;
  for (int i = 0; i < 20; ++i) {
    Unit& unit = EndedUnit(board, "gps0", Result::kFailed, 5);
    unit.progress.doneReason = "made_up_" + std::to_string(i);
    board.tally.Add(unit);
  }
  const PortTally& port = board.tally.ports.at("gps0");
  EXPECT_EQ(port.failures.size(), UpdateTally::kMaxReasons + 1);
  EXPECT_EQ(port.failures.at("other"), 4u);
  EXPECT_EQ(port.ended.at(Result::kFailed), 20u);
}

TEST(MetricsText, LabelValuesAreEscapedAndValidUtf8) {
  const struct {
    std::string given;
    std::string quoted;
  } cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {R"(C:\fw "new".bin)", R"(C:\\fw \"new\".bin)"},
      {"two\nlines", R"(two\nlines)"},  {"tab\tstays", "tab\tstays"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 passes
      {"caf\xe9", "caf\xc3\xa9"},      // Latin-1 becomes UTF-8
      {std::string("a\0b", 3), "ab"},  // NUL goes
      {"\\\"\n", R"(\\\"\n)"},
  };
  for (const auto& c : cases) EXPECT_EQ(MetricsLabelValue(c.given), c.quoted) << c.given;
}

// The same token rules as the rest of the dashboard; a Bearer header is what Prometheus sends.
TEST(MetricsServer, ServesTheTextBehindTheTokenAndNothingWithoutAStation) {
  const std::string token = "0123456789abcdef-metrics";
  test::Dashboard dashboard(token);
  const std::string bearer = "Authorization: Bearer " + token + "\r\n";
  EXPECT_EQ(dashboard.Get("/metrics", bearer).status, 404);  // a `serve` has no station
  dashboard.hub.SetMetrics("gpsfwstation_units_running 3\n");
  const struct {
    std::string target;
    std::string fields;
    int status;
  } cases[] = {
      {"/metrics", bearer, 200},
      {"/metrics", "authorization: bearer " + token + "\r\n", 200},
      {"/metrics?token=" + token, "", 200},
      {"/metrics", "", 401},
      {"/metrics", "Authorization: Bearer " + token + "x\r\n", 401},
      {"/metrics", "Authorization: Basic " + token + "\r\n", 401},
  };
  for (const auto& c : cases) {
    const test::HttpReply reply = dashboard.Get(c.target, c.fields);
    EXPECT_EQ(reply.status, c.status) << c.target << " " << c.fields;
    if (c.status != 200) continue;
    EXPECT_EQ(reply.Field("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(reply.body, "gpsfwstation_units_running 3\n");
  }
}

}  // namespace
}  // namespace gpsfw::station
