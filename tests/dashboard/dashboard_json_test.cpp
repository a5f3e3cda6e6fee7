// The page's yield: counted among the ended units only, from this run's rows and from the
// record's statistics alike; a unit still running is neither a success nor a failure.
#include <gtest/gtest.h>

#include <vector>

#include "tools/gpsfwstation/http/dashboard_json.h"
#include "tools/gpsfwstation/record/record_stats.h"

namespace gpsfw::station {
namespace {

record::UpdateRow Row(const std::string& port, const std::string& result) {
  record::UpdateRow row;
  row.port = port;
  row.result = result;
  if (result != "completed" && result != "running") row.reason = "no_answer";
  return row;
}

TEST(DashboardYield, CountsEndedUnitsOnly) {
  const std::vector<record::UpdateRow> rows = {
      Row("/dev/gps0", "completed"), Row("/dev/gps0", "running"),  // 100 %, not 50 %
      Row("/dev/gps1", "running"),                                 // nothing ended yet
      Row("/dev/gps2", "failed"),    Row("/dev/gps2", "completed"), Row("/dev/gps2", "running"),
  };
  struct Want {
    int completed;
    int failed;
    nlohmann::ordered_json yield;
  };
  const std::map<std::string, Want> want = {
      {"/dev/gps0", {1, 0, 100.0}}, {"/dev/gps1", {0, 0, nullptr}}, {"/dev/gps2", {1, 1, 50.0}}};
  // From the record (as a station with --db and `serve` show it) and from this run's rows.
  const std::vector<PortYield> fromRecord = YieldOf(record::StatsOf(rows, record::StatsBy::kPort));
  const std::vector<PortYield> fromRun = YieldOf(rows);
  for (const auto& [source, perPort] : {std::pair{"record", fromRecord}, {"run", fromRun}}) {
    const nlohmann::ordered_json json = HistoryJson({}, perPort, source)["per_port"];
    for (const auto& port : json) {
      const std::string name = port["port"];
      const bool ended = want.at(name).completed + want.at(name).failed > 0;
      if (!ended && std::string(source) == "run") continue;  // a run lists ended units only
      EXPECT_EQ(port["completed"], want.at(name).completed) << source << " " << name;
      EXPECT_EQ(port["failed"], want.at(name).failed) << source << " " << name;
      EXPECT_EQ(port["yield"], want.at(name).yield) << source << " " << name;
    }
  }
  // A `serve` page's totals: the running units apart.
  const nlohmann::ordered_json totals =
      ServeStateJson({}, 0, record::StatsOf(rows, record::StatsBy::kStation))["totals"];
  EXPECT_EQ(totals["completed"], 2);
  EXPECT_EQ(totals["failed"], 1);
  EXPECT_EQ(totals["running"], 3);
}

}  // namespace
}  // namespace gpsfw::station
