// What names a unit and what names the station: the rules the dashboard's write and
// --serial-from's command share, case by case.
#include <gtest/gtest.h>

#include "tools/gpsfwstation/http/serial_write.h"
#include "tools/gpsfwstation/run/unit_serial.h"

namespace gpsfw::station {
namespace {

TEST(UnitSerial, OnlyPrintableAsciiOfOneToSixtyFourCharacters) {
  const struct {
    std::string serial;
    bool usable;
  } cases[] = {
      {"SN 4711", true},
      {std::string(64, '7'), true},
      {"", false},
      {std::string(65, '7'), false},
      {"SN\t4711", false},
      {"SN\x7f", false},
      {"SN-\xc3\xa4", false},  // a letter beyond ASCII
      {" SN", false},
      {"SN ", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SerialProblem(c.serial).empty(), c.usable) << "'" << c.serial << "'";
  }
}

TEST(UnitSerial, TheCommandsFirstLineWithoutItsBlanks) {
  EXPECT_EQ(FirstLine("  SN-1 \r\nSN-2\n"), "SN-1");
  EXPECT_EQ(FirstLine("SN-1"), "SN-1");
  EXPECT_EQ(FirstLine("\nSN-2\n"), "");
  EXPECT_EQ(FirstLine(""), "");
}

TEST(SerialWrite, TheHostMustNameThisStation) {
  const OwnAddress own{"127.0.0.1", 8080, "line3-station"};
  const struct {
    const char* host;
    bool own;
  } cases[] = {
      {"127.0.0.1:8080", true},     {"localhost:8080", true},
      {"LocalHost:8080", true},     {"[::1]:8080", true},
      {"10.1.2.3:8080", true},  // an address literal cannot be rebound
      {"line3-station:8080", true}, {"127.0.0.1:8081", false},
      {"127.0.0.1", false},  // port 80
      {"evil.example:8080", false}, {"127.0.0.1.evil.example:8080", false},
      {"localhost:80x", false},     {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsOwnHost(c.host, own), c.own) << c.host;
}

TEST(SerialWrite, TheTargetNamesOnePort) {
  std::string id;
  EXPECT_TRUE(SerialWriteTarget("/api/ports/ab12/serial", id));
  EXPECT_EQ(id, "ab12");
  EXPECT_TRUE(SerialWriteTarget("/api/ports//dev/ttyUSB0/serial", id));
  EXPECT_EQ(id, "/dev/ttyUSB0");
  EXPECT_FALSE(SerialWriteTarget("/api/ports//serial", id));
  EXPECT_FALSE(SerialWriteTarget("/api/ports/ab12", id));
  EXPECT_FALSE(SerialWriteTarget("/api/state", id));
}

}  // namespace
}  // namespace gpsfw::station
