// An output the user asked for that cannot be written (a full disk, a failing device) is said
// at once on standard error, also under -q, and in the event stream; a completed flash keeps
// its code 0, and the done event and the state file say whether the log is whole.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

constexpr size_t kPage = 4096;

// A tmpfs of two pages with one of them taken: the first page any file needs is the last.
class AlmostFullFolder {
 public:
  explicit AlmostFullFolder(const std::string& path) : path_(path) {
    ::mkdir(path.c_str(), 0755);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=8k") == 0;
    if (mounted_) WriteFile(path + "/filler", std::string(kPage, '\0'));
  }
  ~AlmostFullFolder() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  AlmostFullFolder(const AlmostFullFolder&) = delete;
  AlmostFullFolder& operator=(const AlmostFullFolder&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

struct Outcome {
  int status = -1;
  std::string err;
  std::string log;
  std::string events;
  std::string state;
};

class OutputLoss : public ::testing::Test {
 protected:
  // One update of the container, named to the loader as `image`, against a receiver that
  // expects it; the log, events and trace where `outputs` put them.
  Outcome Update(const std::string& image, const std::vector<std::string>& outputs) {
    const std::string link = dir.File("gps0");
    ChildProcess sim({ProgramPath("gpsfwsim"), "--link", link, "--once", "--expect",
                      images.container, "--time-limit", "120"},
                     dir.File("sim.out"));
    EXPECT_TRUE(WaitForPath(link));
    std::vector<std::string> args = {
        ProgramPath("gpsfwload"),  "-q", "-i", image, "-p", link, "--state",
        dir.File("receiver.state")};
    args.insert(args.end(), outputs.begin(), outputs.end());
    ChildProcess loader(args, dir.File("out"), dir.File("err"));
    Outcome outcome;
    outcome.status = loader.Wait(120);
    EXPECT_EQ(sim.Wait(30), 0) << ReadFile(dir.File("sim.out"));
    outcome.err = ReadFile(dir.File("err"));
    outcome.events = ReadFile(dir.File("ev.jsonl"));
    outcome.state = ReadFile(dir.File("receiver.state"));
    return outcome;
  }

  TempDir dir;
  ImageFiles images = MakeImages(dir, 1024, 8192, 512);
};

// The image's name with "./" repeated in front, so that the log's line that names it makes
// the log cross its first page `past` bytes into the flash programming lines.
std::string NameThatFillsTheLogPage(const std::string& image, const std::string& log, size_t past) {
  const size_t programming = log.find("FLASH Programming...");
  if (programming == std::string::npos || programming + past >= kPage) return image;
  std::string name = image;
  while (programming + past + (name.size() - image.size()) < kPage) name = "/." + name;
  return name;
}

TEST_F(OutputLoss, EveryLostOutputIsSaidAndTheCompletedFlashKeepsItsCode) {
  const std::string events = dir.File("ev.jsonl");
  const std::string log = dir.File("update.log");
  struct Case {
    const char* what;
    std::vector<std::string> outputs;
    const char* said;  // on standard error
    bool logComplete;
  };
  const std::vector<Case> cases = {
      {"log on a full device",
       {"-l", "/dev/full", "--events", events},
       "gpsfwload: the progress log '/dev/full' is incomplete: No space left on device\n",
       false},
      {"events on a full device",
       {"-l", log, "--events", "/dev/full"},
       "gpsfwload: the event stream to '/dev/full' failed: No space left on device; it is "
       "closed, and the update goes on\n",
       true},
      {"trace on a full device",
       {"-l", log, "--events", events, "--trace", "/dev/full"},
       "gpsfwload: the wire trace to '/dev/full' failed: No space left on device; it is closed, "
       "and the update goes on\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(events, "");
    const Outcome run = Update(images.container, c.outputs);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, c.said);
    EXPECT_NE(run.state.find(c.logComplete ? "log_complete=true" : "log_complete=false"),
              std::string::npos)
        << run.state;
    if (c.logComplete) {
      EXPECT_NE(ReadFile(log).find("FLASH upload complete.\r\nRetCode: 0\r\n"), std::string::npos);
    }
    if (c.outputs[3] == events) {
      const std::string done = FromLast(run.events, "{\"t\"");
      EXPECT_NE(done.find(c.logComplete ? "\"log_complete\":true" : "\"log_complete\":false"),
                std::string::npos)
          << done;
      const char* lost = c.logComplete ? "\"output\":\"trace\"" : "\"output\":\"log\"";
      EXPECT_NE(run.events.find("\"type\":\"output_lost\"," + std::string(lost)), std::string::npos)
          << run.events;
    }
  }
}

// A disk that fills while the flash is programmed: the log stops there, which is said at
// once; the flash completes and keeps its code.
TEST_F(OutputLoss, LogOnADiskThatFillsDuringTheUpdateIsSaidIncomplete) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const std::string events = dir.File("ev.jsonl");
  const Outcome whole = Update(images.container, {"-l", dir.File("whole.log")});
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::string image =
      NameThatFillsTheLogPage(images.container, ReadFile(dir.File("whole.log")), 60);
  ASSERT_NE(image, images.container) << "the log of this update no longer reaches a page";

  const AlmostFullFolder small(dir.File("small"));
  ASSERT_TRUE(small.Mounted()) << "mount -t tmpfs failed";
  const std::string log = dir.File("small/update.log");
  const Outcome run = Update(image, {"-l", log, "--events", events});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "gpsfwload: the progress log '" + log + "' is incomplete: No space left on device\n");
  const std::string kept = ReadFile(log);
  EXPECT_NE(kept.find("FLASH Programming..."), std::string::npos);
  EXPECT_EQ(kept.find("RetCode"), std::string::npos);
  EXPECT_NE(FromLast(run.events, "{\"t\"").find("\"code\":0,"), std::string::npos);
  EXPECT_NE(FromLast(run.events, "{\"t\"").find("\"log_complete\":false"), std::string::npos);
  EXPECT_NE(run.state.find("log_complete=false"), std::string::npos) << run.state;
}

}  // namespace
}  // namespace gpsfw::test
