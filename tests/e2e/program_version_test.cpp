// Every program names itself and the project's version, one line, exit status 0.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"

namespace gpsfw::test {
namespace {

TEST(ProgramVersion, EveryProgramTellsItsNameAndVersion) {
  TempDir dir;
  for (const std::string program : {"gpsfwload", "gpsfwimg", "gpsfwsim", "gpsfwstation"}) {
    SCOPED_TRACE(program);
    ChildProcess child({ProgramPath(program), "--version"}, dir.File(program));
    EXPECT_EQ(child.Wait(30), 0);
    EXPECT_EQ(ReadFile(dir.File(program)), program + " " + GPSFW_VERSION_TEXT + "\n");
  }
}

}  // namespace
}  // namespace gpsfw::test
