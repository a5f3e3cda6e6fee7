// The summary and the JSON report, and the station against loaders that misbehave.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/console/summary.h"
#include "tools/gpsfwstation/run/port_identity.h"

namespace gpsfw::station {
namespace {

Unit& AddUnit(Board& board, const std::string& port, Result result, int status) {
  auto unit = std::make_unique<Unit>();
  unit->port = port;
  unit->logPath = "logs/" + port + ".log";
  unit->start = board.start;
  unit->end = board.start + std::chrono::seconds(30);
  unit->result = result;
  unit->status = status;
  board.units.push_back(std::move(unit));
  return *board.units.back();
}

TEST(StationReport, NamesEveryFailedPortWithItsCodeAndKeepsAnyBytes) {
  Board board;
  board.image.path = "fw.bin";
  board.image.size = 262144;
  board.image.crc32 = 0x1A2B3C4D;
  board.start = Clock::now();
  Unit& done = AddUnit(board, "gps0", Result::kCompleted, 0);
  done.progress.done = true;
  done.progress.doneBytes = 262144;
  AddUnit(board, "gps1", Result::kTimedOut, 143).progress.retries = 7;
  AddUnit(board, "gps\xff", Result::kFailed, 254).messages = "gpsfwload: port busy\xfe\n";

  EXPECT_EQ(ExitStatusOf(board), kExitFailed);
  const std::string summary = SummaryText(board, board.start + std::chrono::seconds(31));
  EXPECT_NE(summary.find("3 updates: 1 completed, 2 failed, 0 running, 31.0 s"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("Failed: gps1 (timed out, code 143), gps\xff (port, code -2)"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("gps\xff: gpsfwload: port busy"), std::string::npos);

  test::TempDir dir;
  const std::string path = dir.File("report.json");
  WriteReport(path, ReportJson(board, board.start + std::chrono::seconds(31)));
  const nlohmann::json report = nlohmann::json::parse(test::ReadFile(path));
  EXPECT_EQ(report["image"]["crc32"], "1a2b3c4d");
  EXPECT_EQ(report["totals"]["failed"], 2);
  EXPECT_EQ(report["ports"][0]["bytes"], 262144);
  EXPECT_EQ(report["ports"][1]["result"], "timed_out");
  EXPECT_EQ(report["ports"][1]["retries"], 7);
  EXPECT_EQ(report["ports"][2]["port"], "gps\xEF\xBF\xBD");  // U+FFFD for the stray byte
  EXPECT_EQ(report["ports"][2]["reason"], "port");
  EXPECT_EQ(report["ports"][0]["return_code"], 0);
  EXPECT_TRUE(report["ports"][1]["return_code"].is_null());
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));

  // A port named but never started (a stop came first) is not a success either.
  Board none;
  none.expected = 1;
  EXPECT_EQ(ExitStatusOf(none), kExitFailed);
}

// The loader's done event names the cause: the summary and the report show it.
TEST(StationReport, ShowsTheCauseTheLoaderGave) {
  Board board;
  board.start = Clock::now();
  Unit& unit = AddUnit(board, "gps0", Result::kFailed, 254);
  unit.progress.done = true;
  unit.progress.doneCode = -2;
  unit.progress.doneReason = "port_busy";
  unit.progress.doneMessage = "serial port 'gps0' cannot be opened: held by PID 12 (minicom)";
  const std::string summary = SummaryText(board, board.start + std::chrono::seconds(1));
  EXPECT_NE(summary.find("gps0 (port: serial port 'gps0' cannot be opened: held by PID 12 "
                         "(minicom), code -2)"),
            std::string::npos)
      << summary;
  const nlohmann::json report = ReportJson(board, board.start);
  EXPECT_EQ(report["ports"][0]["reason_code"], "port_busy");
  EXPECT_NE(report["ports"][0]["reason"].get<std::string>().find("minicom"), std::string::npos);
}

// The report's temporary file may already be there: left over from a run that was killed
// (truncated and replaced) or planted as a symbolic link (never written through).
TEST(StationReport, WritesNoReportThroughALinkAndReplacesALeftOverOne) {
  Board board;
  board.start = Clock::now();
  AddUnit(board, "gps0", Result::kCompleted, 0);
  const nlohmann::ordered_json report = ReportJson(board, board.start);
  test::TempDir dir;
  const std::string path = dir.File("report.json");

  test::WriteFile(path + ".part", std::string(100000, '#'));
  WriteReport(path, report);
  EXPECT_EQ(nlohmann::json::parse(test::ReadFile(path))["ports"][0]["port"], "gps0");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));

  const std::string target = dir.File("elsewhere");
  test::WriteFile(target, "kept");
  std::filesystem::create_symlink(target, path + ".part");
  EXPECT_THROW(WriteReport(path, report), std::runtime_error);
  EXPECT_EQ(test::ReadFile(target), "kept");
}

// Loaders that misbehave: one ignores SIGTERM, one exits 0 without a word, one writes no
// end to its line. None may hold the station, and none counts as completed.
TEST(StationReport, MisbehavingLoadersFailTheirPortsWithoutHoldingTheStation) {
  test::TempDir dir;
  const std::string loader = dir.File("loader.sh");
  test::WriteFile(
      loader,
      "#!/bin/sh\n"
      "while [ $# -gt 0 ]; do [ \"$1\" = --check ] && exit 0;"
      " [ \"$1\" = -p ] && port=$2; shift; done\n"
      "case \"$port\" in\n"
      "  *deaf*) trap '' TERM; echo '{\"t\":0,\"type\":\"phase\",\"phase\":\"waking\"}';"
      " while :; do sleep 1; done;;\n"
      "  *mute*) exit 0;;\n"
      "  *endless*) while :; do printf xxxxxxxxxxxxxxxx; done;;\n"
      "esac\n");
  chmod(loader.c_str(), 0755);
  test::WriteFile(dir.File("fw.bin"), "image");
  const auto start = std::chrono::steady_clock::now();
  test::ChildProcess station(
      {test::ProgramPath("gpsfwstation"), "--loader", loader, "-i", dir.File("fw.bin"), "--log-dir",
       dir.File("logs"), "--report", dir.File("r.json"), "--unit-timeout", "1", "--plain", "deaf",
       "mute", "endless"},
      dir.File("out"));
  EXPECT_EQ(station.Wait(60), kExitFailed) << test::ReadFile(dir.File("out"));
  // The deaf loader is killed 5 s after it was told to stop.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  const nlohmann::json report = nlohmann::json::parse(test::ReadFile(dir.File("r.json")));
  EXPECT_EQ(report["ports"][0]["result"], "timed_out");
  EXPECT_EQ(report["ports"][0]["exit_status"], 128 + 9);
  EXPECT_EQ(report["ports"][1]["result"], "failed");
  EXPECT_EQ(report["ports"][1]["reason"], "no completion reported");
  EXPECT_EQ(report["ports"][2]["result"], "timed_out");
  EXPECT_EQ(report["totals"]["completed"], 0);
}

// A unit is traced to its fixture position by the adapter's stable names and serial number,
// whichever name the station was given for its port; a port without them shows none.
TEST(StationReport, TiesEachPortToItsAdapter) {
  static platform::SerialPortList list{};
  list.count = 2;
  platform::SerialPortInfo& ftdi = list.ports[0];
  std::snprintf(ftdi.device, sizeof ftdi.device, "/dev/ttyUSB7");
  std::snprintf(ftdi.byId, sizeof ftdi.byId, "/dev/serial/by-id/usb-FTDI_A10K1ABC-if00");
  std::snprintf(ftdi.byPath, sizeof ftdi.byPath, "/dev/serial/by-path/pci-usb-0:1.4:1.0");
  ftdi.usb = true;
  std::snprintf(ftdi.serial, sizeof ftdi.serial, "A10K1ABC");
  std::snprintf(list.ports[1].device, sizeof list.ports[1].device, "/dev/ttyS4");
  for (const std::string name : {"/dev/ttyUSB7", "/dev/serial/by-path/pci-usb-0:1.4:1.0"}) {
    const PortIdentity id = IdentityIn(list, name);
    EXPECT_EQ(id.usbSerial, "A10K1ABC") << name;
    EXPECT_EQ(id.byPath, ftdi.byPath) << name;
  }
  EXPECT_FALSE(IdentityIn(list, "/dev/ttyS4").Known());
  EXPECT_FALSE(IdentityIn(list, "/dev/pts/3").Known());

  Board board;
  board.start = Clock::now();
  AddUnit(board, "/dev/ttyUSB7", Result::kCompleted, 0).identity = IdentityIn(list, "/dev/ttyUSB7");
  AddUnit(board, "/dev/ttyS4", Result::kCompleted, 0);
  const std::string summary = SummaryText(board, board.start + std::chrono::seconds(31));
  EXPECT_NE(summary.find("Adapters:\n  /dev/ttyUSB7: usb-serial:A10K1ABC "
                         "/dev/serial/by-path/pci-usb-0:1.4:1.0 "
                         "/dev/serial/by-id/usb-FTDI_A10K1ABC-if00\n"),
            std::string::npos)
      << summary;
  EXPECT_EQ(summary.find("/dev/ttyS4:"), std::string::npos);
  const nlohmann::json report =
      nlohmann::json::parse(ReportJson(board, board.start + std::chrono::seconds(31)).dump());
  EXPECT_EQ(report["ports"][0]["usb_serial"], "A10K1ABC");
  EXPECT_TRUE(report["ports"][1]["by_path"].is_null());
}

}  // namespace
}  // namespace gpsfw::station
