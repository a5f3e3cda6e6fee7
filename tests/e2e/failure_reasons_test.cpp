// Every failed run says why: on standard error (also when it is no terminal), in the event
// stream's "done" event, beside a progress log that stays as it always was.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw {
namespace {

using test::ProgramPath;
using test::ReadFile;
using test::TempDir;

class LoaderFailure : public ::testing::Test {
 protected:
  // Runs the loader with its events in ev.jsonl and its standard error in `err`.
  int Loader(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath("gpsfwload"));
    args.insert(args.end(), {"-l", dir.File("g.txt"), "--events", dir.File("ev.jsonl")});
    test::ChildProcess child(args, dir.File("stdout"), dir.File("stderr"));
    const int status = child.Wait(120);
    err = ReadFile(dir.File("stderr"));
    log = ReadFile(dir.File("g.txt"));
    const std::string events = ReadFile(dir.File("ev.jsonl"));
    done = events.substr(events.rfind("{\"t\""));
    return status;
  }
  TempDir dir;
  std::string err;
  std::string log;
  std::string done;  // the last event
};

// A receiver that never answers: the loader gives up after the time given, at its next poll.
TEST_F(LoaderFailure, GiveUpAfterExitsWith248AndSaysSo) {
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  EXPECT_EQ(Loader({"-i", images.container, "-p", name, "--give-up-after", "1"}), 248);
  close(master);
  EXPECT_EQ(log.substr(log.size() - 32), "Gave up after 1 s\r\nRetCode: -8\r\n");
  EXPECT_NE(done.find("\"reason\":\"gave_up\""), std::string::npos) << done;
  EXPECT_NE(err.find("no complete update within 1 s"), std::string::npos) << err;
}

}  // namespace
}  // namespace gpsfw
