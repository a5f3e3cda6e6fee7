#include "update/version_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"

namespace gpsfw {
namespace {

using Lines = std::vector<std::string>;

TEST(VersionReport, LinesMadeFromTheReply) {
  struct Case {
    std::string reply;
    Lines logged;
  };
  const std::vector<Case> cases = {
      {"$VER 1.23\r\n", {"1.23."}},
      {"$VER BL 2.04\r\n", {"BL 2.04."}},
      {"$VER 1.23", {"1.23."}},
      {"$VER\r\n", {}},  // fewer than six characters: nothing
      {"$VER", {}},
      {"$VERX", {}},                 // five characters
      {"$VER \r\n", {"."}},          // control character right behind the fifth
      {"$VER\r\n1.0 trailing", {}},  // cut inside the tag and separator
      {"$VE\x01R 1.0", {}},
      {"$VER 1.0\x85garbage", {"1.0."}},  // bytes from 0x80 end the text as well
      {"$VER 1.0\tx", {"1.0."}},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    std::string buffer = c.reply;
    VersionReport(buffer.data());
    EXPECT_EQ(log.Lines(), c.logged) << c.reply;
  }
}

TEST(VersionReport, OverlongVersionIsCutToTheLine) {
  test::LogCapture log;
  std::string reply = "$VER " + std::string(300, 'v') + "\r\n";
  VersionReport(reply.data());
  EXPECT_EQ(log.Lines(), Lines{std::string(254, 'v') + "."});
}

}  // namespace
}  // namespace gpsfw
