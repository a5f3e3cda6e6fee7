// --events and --trace never destroy what the run reads or writes: a refused output ends the
// run as a refused command line (exit status 2) before the log or a port is touched, and the
// file it named is left as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

TEST(OutputFilesTest,
     AnOutputOverTheImageTheLogTheOtherOutputOrALinkIsRefusedBeforeAnythingIsTouched) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  const std::string image = ReadFile(images.container);
  const std::string log = dir.File("run.log");
  const std::string events = dir.File("events.jsonl");
  const std::string kept = dir.File("kept.txt");
  const std::string link = dir.File("link.txt");
  ASSERT_EQ(symlink(kept.c_str(), link.c_str()), 0);
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"events over the image", {"--events", images.container}, "cannot write the event stream to"},
      {"trace over the image", {"--trace", images.container}, "cannot write the wire trace to"},
      {"trace over the events",
       {"--events", events, "--trace", events},
       "cannot write the wire trace to"},
      {"events over the log", {"--events", log}, "the log or the other output"},
      {"trace over the log by another name",
       {"--trace", dir.path() + "/./run.log"},
       "the log or the other output"},
      {"events through a link", {"--events", link}, "it is a symbolic link"},
  };
  for (const Case& c : cases) {
    WriteFile(kept, "kept\n");
    WriteFile(log, "an earlier run's log\r\n");
    std::vector<std::string> argv = {ProgramPath("gpsfwload"),
                                     "-i",
                                     images.container,
                                     "-p",
                                     dir.File("no-such-port"),
                                     "-l",
                                     log};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    const std::string err = dir.File("stderr");
    EXPECT_EQ(ChildProcess(argv, "", err).Wait(30), 2) << c.name;
    EXPECT_NE(ReadFile(err).find(c.message), std::string::npos) << c.name << ": " << ReadFile(err);
    EXPECT_EQ(ReadFile(images.container), image) << c.name;
    EXPECT_EQ(ReadFile(kept), "kept\n") << c.name;
    EXPECT_EQ(ReadFile(log), "an earlier run's log\r\n") << c.name;
  }
}

}  // namespace
}  // namespace gpsfw::test
