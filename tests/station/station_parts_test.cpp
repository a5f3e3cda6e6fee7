// The station's command line, its file names, the live table and the port watch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "image/image_digest.h"
#include "tests/support/log_capture.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/console/live_table.h"
#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/run/image_check.h"
#include "tools/gpsfwstation/run/port_watch.h"
#include "tools/gpsfwstation/run/unit_files.h"

namespace gpsfw::station {
namespace {

TEST(StationOptions, RefusesWhatCannotWork) {
  const std::vector<std::vector<std::string>> refused = {
      {"/dev/ttyUSB0"},                                // no image
      {"-i", "fw.bin"},                                // no port
      {"-i", "fw.bin", "--watch"},                     // nothing to watch for
      {"-i", "fw.bin", "--unit-timeout", "0", "p"},    // a unit that can never finish
      {"-i", "fw.bin", "--unit-timeout", "inf", "p"},  // a unit that never ends
      {"-i", "fw.bin", "--unit-timeout", "10x", "p"},  // not a number
      {"-i", "fw.bin", "--settle", "-1", "p"},         // negative
      {"-i", "fw.bin", "--log-dir", "", "p"},          // no folder
      {"-i", "fw.bin", "--bogus", "p"},                // unknown
      {"-i"},                                          // value missing
  };
  for (const auto& args : refused) {
    EXPECT_THROW(ParseStationOptions(args), UsageError) << args.back();
  }
  const StationOptions options =
      ParseStationOptions({"-i", "fw.bin", "--ports", "/dev/ttyUSB*", "--ports", "/dev/ttyACM*",
                           "--watch", "--unit-timeout", "90.5", "--settle", "0", "GPS1:"});
  EXPECT_EQ(options.patterns, (std::vector<std::string>{"/dev/ttyUSB*", "/dev/ttyACM*"}));
  EXPECT_EQ(options.ports, (std::vector<std::string>{"GPS1:"}));
  EXPECT_TRUE(options.watch);
  EXPECT_DOUBLE_EQ(options.unitTimeoutSeconds, 90.5);
  EXPECT_DOUBLE_EQ(options.settleSeconds, 0);
}

TEST(UnitFiles, EveryUnitGetsALogOfItsOwnInsideTheFolder) {
  const struct {
    const char* port;
    const char* name;
  } names[] = {
      {"/dev/ttyUSB0", "dev_ttyUSB0"},
      {"/dev/serial/by-path/pci-0:1.2", "dev_serial_by-path_pci-0:1.2"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"/", "port"},
      {"GPS1:", "GPS1:"},
  };
  for (const auto& n : names) EXPECT_EQ(LogNameForPort(n.port), n.name) << n.port;

  test::TempDir dir;
  const std::string logs = dir.File("a/b/logs");
  UnitFiles files(logs);
  EXPECT_TRUE(std::filesystem::is_directory(logs));
  const std::time_t when = 1765267200;  // 2025-12-09 08:00:00 UTC
  test::WriteFile(logs + "/dev_ttyUSB0-20251209T080000Z-3.log", "an earlier run's log");
  const std::vector<std::string> given = {
      files.LogFor("/dev/ttyUSB0", when), files.LogFor("/dev/ttyUSB0", when),
      files.LogFor("dev/ttyUSB0", when),  // a name that maps to the same file
      files.LogFor("/dev/image-check", when), files.CheckLog()};
  EXPECT_EQ(given[0], logs + "/dev_ttyUSB0-20251209T080000Z.log");
  EXPECT_EQ(given[1], logs + "/dev_ttyUSB0-20251209T080000Z-2.log");
  EXPECT_EQ(given[2], logs + "/dev_ttyUSB0-20251209T080000Z-4.log");
  EXPECT_EQ(test::ReadFile(logs + "/dev_ttyUSB0-20251209T080000Z-3.log"), "an earlier run's log");
  EXPECT_EQ(std::set<std::string>(given.begin(), given.end()).size(), given.size());
  EXPECT_EQ(LogNameForPort(std::string(300, 'x')).size(), 200u);

  const std::string one = files.NewTempDir();
  const std::string two = files.NewTempDir();
  EXPECT_NE(one, two);
  EXPECT_TRUE(std::filesystem::is_directory(one));
}

// The station names its image by the loader's own digests, and spells the CRC as the record
// keeps it: the standard check values of both, over a file larger than one read.
TEST(ImageFacts, DigestsOfTheWholeFileAsTheLoaderTakesThem) {
  test::TempDir dir;
  test::WriteFile(dir.File("check.bin"), "123456789");
  ImageFacts facts = ReadImageFacts(dir.File("check.bin"));
  EXPECT_EQ(Crc32Text(facts.crc32), "cbf43926");
  EXPECT_EQ(facts.sha256, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225");

  test::WriteFile(dir.File("fw.bin"), std::string(100000, '\x5A') + "123456789");
  facts = ReadImageFacts(dir.File("fw.bin"));
  ImageDigest digest;
  ASSERT_TRUE(DigestFile(dir.File("fw.bin").c_str(), digest));
  EXPECT_EQ(facts.size, 100009u);
  EXPECT_EQ(facts.crc32, digest.crc32);
  EXPECT_EQ(facts.sha256, digest.sha256);
}

Board BoardOf(int units, int completed) {
  Board board;
  board.image.path = "fw.bin";
  board.start = Clock::now();
  for (int i = 0; i < units; ++i) {
    auto unit = std::make_unique<Unit>();
    unit->port = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1." + std::to_string(i);
    unit->start = board.start;
    if (i < completed) {
      unit->result = Result::kCompleted;
      unit->end = board.start;
    }
    board.units.push_back(std::move(unit));
  }
  return board;
}

TEST(LiveTable, FitsTheTerminalAndKeepsTheRowsThatMatter) {
  const Board board = BoardOf(30, 20);
  const std::vector<std::string> lines = LiveLines(board, board.start, 60, 20);
  ASSERT_EQ(lines.size(), 19u);  // a line is left for the cursor
  for (const std::string& line : lines) EXPECT_LE(line.size(), 60u) << line;
  EXPECT_NE(lines[1].find("30 updates: 20 completed, 0 failed, 10 running"), std::string::npos);
  // The 10 running rows (ports 20 to 29) are all there, and the 5 latest completed ones.
  std::string rows;
  for (size_t i = 3; i + 1 < lines.size(); ++i) rows += lines[i].substr(0, 32) + "|";
  for (int i = 15; i < 30; ++i) {
    EXPECT_NE(rows.find(":1." + std::to_string(i) + "|"), std::string::npos) << i << rows;
  }
  EXPECT_EQ(lines.back().rfind("(15 more not shown", 0), 0u) << lines.back();
  // Ports are cut at their start: their ends tell them apart.
  EXPECT_EQ(lines[3].rfind("..", 0), 0u) << lines[3];

  const std::vector<std::string> all = LiveLines(BoardOf(3, 1), board.start, 200, 40);
  EXPECT_EQ(all.size(), 6u);
}

TEST(PortWatch, FollowsPortsThatComeAndGoAlsoInAFolderMadeLater) {
  test::TempDir dir;
  const std::string folder = dir.File("serial/by-path");
  std::filesystem::create_directories(dir.File("serial"));
  test::WriteFile(dir.File("serial/early"), "");
  PortWatch watch({folder + "/usb*", dir.File("serial/early")});
  const std::vector<PortChange> first = watch.Arm();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].path, dir.File("serial/early"));

  // inotify queues an event with the operation that causes it: no waiting is needed.
  std::filesystem::create_directories(folder);
  EXPECT_TRUE(watch.Take().empty());  // the watch moves down into the new folder
  test::WriteFile(folder + "/usb-a", "");
  test::WriteFile(folder + "/other", "");
  // A link put in place under a temporary name, as udev and the simulator do.
  ASSERT_EQ(symlink("/dev/null", (folder + "/tmp-b").c_str()), 0);
  std::filesystem::rename(folder + "/tmp-b", folder + "/usb-b");
  std::filesystem::remove(folder + "/usb-a");
  std::vector<std::string> seen;
  for (const PortChange& change : watch.Take()) {
    seen.push_back((change.appeared ? "+" : "-") + change.path.substr(folder.size() + 1));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"+usb-a", "+usb-b", "-usb-a"}));
  // The folder itself goes: its ports are gone.
  std::filesystem::remove_all(folder);
  const std::vector<PortChange> gone = watch.Take();
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_FALSE(gone[0].appeared);
  EXPECT_THROW(PortWatch({dir.File("*/x*")}).Arm(), std::runtime_error);
}

}  // namespace
}  // namespace gpsfw::station

namespace gpsfw::station {
namespace {

TEST(PortWatch, PortsComeInTheOrderPeopleCountThem) {
  std::vector<std::string> names = {"gps10",   "gps2", "ttyUSB10", "gps02",
                                    "ttyUSB9", "gps1", "gps",      "gps2a"};
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names, (std::vector<std::string>{"gps", "gps1", "gps02", "gps2", "gps2a", "gps10",
                                             "ttyUSB9", "ttyUSB10"}));
  test::TempDir dir;
  for (const char* name : {"gps10", "gps2", "gps1"}) test::WriteFile(dir.File(name), "");
  EXPECT_EQ(PortWatch::Expand({dir.File("gps*")}),
            (std::vector<std::string>{dir.File("gps1"), dir.File("gps2"), dir.File("gps10")}));
}

}  // namespace
}  // namespace gpsfw::station
