// An event stream or a trace that can no longer be written (its reader left, the disk is
// full) is closed with one line on standard error; the update goes on to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

TEST(OutputFailure, ReaderThatLeavesDuringAnUpdateEndsNothingButItsStream) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  const std::string link = dir.File("gps0");
  ChildProcess sim({ProgramPath("gpsfwsim"), "--link", link, "--once", "--expect", images.container,
                    "--time-limit", "240"},
                   dir.File("sim.out"));
  WaitForPath(link);
  // The reader takes three events and leaves while the loader is still waking the receiver.
  const std::string command = "set -o pipefail; '" + ProgramPath("gpsfwload") + "' -q -i '" +
                              images.container + "' -p '" + link + "' -l '" +
                              dir.File("update.log") + "' --events - | head -n 3 >/dev/null";
  ChildProcess loader({"/bin/bash", "-c", command}, dir.File("out"), dir.File("err"));
  EXPECT_EQ(loader.Wait(240), 0) << ReadFile(dir.File("err"));
  EXPECT_EQ(sim.Wait(30), 0) << ReadFile(dir.File("sim.out"));
  const std::string log = ReadFile(dir.File("update.log"));
  EXPECT_NE(log.find("FLASH upload complete.\r\nRetCode: 0\r\n"), std::string::npos) << log;
  const std::string err = ReadFile(dir.File("err"));
  EXPECT_EQ(err,
            "gpsfwload: the event stream to standard output failed: Broken pipe; it is closed, "
            "and the update goes on\n");
}

TEST(OutputFailure, FullDiskClosesEachOutputWithOneLine) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  for (const std::string option : {"--events", "--trace"}) {
    SCOPED_TRACE(option);
    const std::string err = dir.File("err" + option);
    ChildProcess check({ProgramPath("gpsfwload"), "--check", "-i", images.container, option,
                        "/dev/full", "-l", dir.File("check.log")},
                       dir.File("out"), err);
    EXPECT_EQ(check.Wait(60), 0);
    const std::string what = option == "--events" ? "event stream" : "wire trace";
    EXPECT_EQ(ReadFile(err), "gpsfwload: the " + what +
                                 " to '/dev/full' failed: No space left on device; it is "
                                 "closed, and the update goes on\n");
    EXPECT_NE(ReadFile(dir.File("out")).find("Verdict:        accepted\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace gpsfw::test
