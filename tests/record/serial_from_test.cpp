// A unit's serial number from --serial-from, through the real station and simulated
// receivers: a unit whose command fails, prints nothing usable or takes too long is failed
// with the reason and its receiver never sees a byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/station/station_harness.h"
#include "tests/support/sample_images.h"
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {
namespace {

constexpr char kVerified[] = "flash verified: 20480 bytes match";
constexpr double kRunBound = 120;

// What the command does for each port, and what becomes of the unit.
struct SerialCase {
  const char* script;  // the command's answer on this port
  const char* result;
  const char* serial;  // the row's unit_serial
  const char* reason;  // the report's reason, in part
};

const SerialCase kCases[] = {
    {"echo '  SN-4711  '; echo second line", "completed", "SN-4711", ""},
    {"echo 'no label' >&2; exit 3", "failed", "", "the serial command exited with 3"},
    {"sleep 60", "failed", "", "the serial command took longer than 2 s"},
    {"printf 'bad\\001serial\\n'", "failed", "", "not printable ASCII"},
    {"true", "failed", "", "printed no serial"},
};

std::string History(const TempDir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ProgramPath("gpsfwstation"), "history", "--db",
                                   dir.File("record.db")};
  argv.insert(argv.end(), args.begin(), args.end());
  Program history(argv, dir.File("history.out"));
  EXPECT_EQ(history.Wait(30), 0);
  return ReadFile(dir.File("history.out"));
}

TEST(StationSerial, TheCommandNamesEachUnitOrFailsItUntouched) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  constexpr int kPorts = static_cast<int>(std::size(kCases));
  std::ofstream script(dir.File("serial.sh"));
  script << "case \"$GPSFW_PORT\" in\n";
  for (int i = 0; i < kPorts; ++i) {
    script << "  */gps" << i << ") " << kCases[i].script << " ;;\n";
  }
  script << "esac\n";
  script.close();
  Receivers receivers(dir, kPorts, images.container);
  std::vector<std::string> argv = {ProgramPath("gpsfwstation"),
                                   "-i",
                                   images.container,
                                   "--log-dir",
                                   dir.File("logs"),
                                   "--report",
                                   dir.File("report.json"),
                                   "--db",
                                   dir.File("record.db"),
                                   "--unit-timeout",
                                   "60",
                                   "--serial-timeout",
                                   "2",
                                   "--serial-from",
                                   "sh " + dir.File("serial.sh")};
  argv.insert(argv.end(), receivers.Ports().begin(), receivers.Ports().end());
  Program station(argv, dir.File("station.out"));
  const std::string output = [&] {
    EXPECT_EQ(station.Wait(kRunBound), 1);
    return ReadFile(dir.File("station.out"));
  }();
  // Only the named unit was flashed: the others' receivers saw no loader.
  EXPECT_EQ(Count(receivers.Stop(), kVerified), 1u) << output;
  const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.File("report.json")));
  ASSERT_EQ(report["ports"].size(), static_cast<size_t>(kPorts)) << output;
  for (int i = 0; i < kPorts; ++i) {
    const SerialCase& c = kCases[i];
    const nlohmann::json& unit = report["ports"][i];
    SCOPED_TRACE(c.script);
    EXPECT_EQ(unit["result"], c.result) << unit;
    EXPECT_EQ(unit["unit_serial"], *c.serial ? nlohmann::json(c.serial) : nlohmann::json()) << unit;
    if (*c.reason == '\0') continue;
    EXPECT_NE(unit["reason"].get<std::string>().find(c.reason), std::string::npos) << unit;
    EXPECT_EQ(unit["reason_code"], "serial_failed");
    EXPECT_EQ(unit["exit_status"], -1);  // no loader ran
    EXPECT_EQ(unit["log"], "");
  }
  EXPECT_NE(output.find("SERIAL"), std::string::npos) << output;
  const nlohmann::json rows =
      nlohmann::json::parse(History(dir, {"--serial", "SN-4711", "--json"}));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["result"], "completed");
  EXPECT_EQ(rows[0]["port"], receivers.Port(0));
  const nlohmann::json failed =
      nlohmann::json::parse(History(dir, {"--result", "failed", "--json"}));
  ASSERT_EQ(failed.size(), static_cast<size_t>(kPorts - 1));
  for (const auto& row : failed) EXPECT_EQ(row["reason"], "serial_failed") << row;
}

// With --watch each connection of a port is a unit of its own, and the command is asked again.
TEST(StationSerial, EachConnectionOfAWatchedPortAsksAgain) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  const std::string count = dir.File("count");
  Program station({ProgramPath("gpsfwstation"), "-i", images.container, "--log-dir",
                   dir.File("logs"), "--db", dir.File("record.db"), "--plain", "--watch",
                   "--settle", "0.3", "--ports", dir.File("gps*"), "--serial-from",
                   "n=$(($(cat " + count + " 2>/dev/null || echo 0) + 1)); echo $n > " + count +
                       "; echo SN-$n"},
                  dir.File("station.out"));
  const auto completed = [&](size_t rows) {
    return [&, rows] {
      std::string error;
      auto store = station::record::OpenRecordForReading(dir.File("record.db"), error);
      station::record::HistoryFilter filter;
      filter.result = "completed";
      return store != nullptr && store->History(filter, error).size() == rows;
    };
  };
  for (size_t connection : {1, 2}) {
    Receivers receiver(dir, 1, images.container);
    ASSERT_TRUE(WaitFor(completed(connection), 60)) << ReadFile(dir.File("station.out"));
    receiver.Stop();
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(30), 0) << ReadFile(dir.File("station.out"));
  for (const char* serial : {"SN-1", "SN-2"}) {
    const nlohmann::json rows = nlohmann::json::parse(History(dir, {"--serial", serial, "--json"}));
    ASSERT_EQ(rows.size(), 1u) << serial;
    EXPECT_EQ(rows[0]["result"], "completed");
  }
}

}  // namespace
}  // namespace gpsfw::test
