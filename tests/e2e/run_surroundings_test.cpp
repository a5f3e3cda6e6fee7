// What lies around an update and is not the image's or the receiver's doing: a second
// loader on the same log, a temporary folder that cannot take a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

// A loader started in `folder` (its log the default grelm.txt there), its PID in `pidFile`.
std::vector<std::string> InFolder(const std::string& folder, const std::string& pidFile,
                                  const std::string& args) {
  return {"/bin/sh", "-c",
          "cd '" + folder + "' && echo $$ > '" + pidFile + "' && exec '" +
              ProgramPath("gpsfwload") + "' " + args};
}

// Two loaders in one folder: the second stops before its port and leaves the first's log
// whole, naming the log and the first one's PID.
TEST(LogLock, ASecondLoaderOnTheSameLogStopsAndLeavesItWhole) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 256);
  int master = -1;
  int slave = -1;
  char pty[256];
  ASSERT_EQ(openpty(&master, &slave, pty, nullptr, nullptr), 0);
  ::close(slave);
  const std::string args = "-i '" + images.container + "' -p " + pty + " --give-up-after 4";
  ChildProcess first(InFolder(dir.path(), dir.File("first.pid"), "-q " + args), dir.File("out1"),
                     dir.File("err1"));
  const std::string log = dir.File("grelm.txt");
  for (int i = 0; i < 1000 && ReadFile(log).find("Waiting for target") == std::string::npos; ++i) {
    ::usleep(10000);
  }
  ChildProcess second(InFolder(dir.path(), dir.File("second.pid"), args), dir.File("out2"),
                      dir.File("err2"));
  EXPECT_EQ(second.Wait(60), 251);
  EXPECT_EQ(first.Wait(60), 248);
  ::close(master);
  const std::string pid = ReadFile(dir.File("first.pid"));
  EXPECT_EQ(ReadFile(dir.File("err2")),
            "gpsfwload: cannot use the log 'grelm.txt': another gpsfwload run (PID " +
                pid.substr(0, pid.find('\n')) + ") is writing it; it is left as it is\n");
  const std::string kept = ReadFile(log);
  EXPECT_EQ(kept.rfind("GPS FW Loader", 0), 0u) << kept;
  EXPECT_EQ(kept.find("RetCode"), kept.rfind("RetCode")) << kept;
  EXPECT_EQ(LastBytes(kept, 32), "Gave up after 4 s\r\nRetCode: -8\r\n");
}

// A terminal left open on the port eats the receiver's answers: it is named with its PID and
// program before the first wake-up, on standard error and as an event, and the update goes
// on (here to its time limit, as the other program takes every answer).
TEST(PortShared, AnotherReaderOfThePortIsNamedBeforeTheFirstWakeUp) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 256);
  int master = -1;
  int slave = -1;
  char pty[256];
  ASSERT_EQ(openpty(&master, &slave, pty, nullptr, nullptr), 0);
  ::close(slave);
  // The terminal program holds the port only, as a real one does, not the pty's far end.
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ChildProcess reader(
      {"/bin/sh", "-c", "echo $$ > '" + dir.File("reader.pid") + "'; exec cat '" + pty + "'"},
      "/dev/null");
  ASSERT_TRUE(WaitForPath(dir.File("reader.pid")));
  ::usleep(200000);  // cat has opened the port
  ChildProcess loader(
      {ProgramPath("gpsfwload"), "-i", images.container, "-p", pty, "-l", dir.File("log.txt"),
       "--events", dir.File("ev.jsonl"), "--give-up-after", "2"},
      dir.File("out"), dir.File("err"));
  EXPECT_EQ(loader.Wait(60), 248);
  reader.Kill();
  ::close(master);
  const std::string pid = ReadFile(dir.File("reader.pid"));
  const std::string named = "other programs have " + std::string(pty) +
                            " open too and may take the receiver's answers: PID " +
                            pid.substr(0, pid.find('\n')) + " (cat); the update goes on";
  const std::string err = ReadFile(dir.File("err"));
  EXPECT_EQ(err.find("gpsfwload: warning: " + named), 0u) << err;
  const std::string events = ReadFile(dir.File("ev.jsonl"));
  const size_t warning = events.find("\"reason\":\"port_shared\",\"message\":\"" + named);
  EXPECT_NE(warning, std::string::npos) << events;
  EXPECT_LT(warning, events.find("\"type\":\"wake\"")) << events;
  // Nothing of it in the log, whose lines are an interface.
  EXPECT_EQ(ReadFile(dir.File("log.txt")).find("other programs"), std::string::npos);

  // The simulated receiver holds the pty's far end as well as the port: it is the peer, and
  // nobody is named.
  ChildProcess receiver({ProgramPath("gpsfwsim"), "--link", dir.File("gps0"), "--time-limit", "30"},
                        "/dev/null");
  ASSERT_TRUE(WaitForPath(dir.File("gps0")));
  ChildProcess alone({ProgramPath("gpsfwload"), "-i", images.container, "-p", dir.File("gps0"),
                      "-l", dir.File("log2.txt"), "--give-up-after", "1"},
                     dir.File("out2"), dir.File("err2"));
  alone.Wait(60);
  const std::string err2 = ReadFile(dir.File("err2"));
  EXPECT_EQ(err2.find("other programs"), std::string::npos) << err2;
}

// A tmpfs at `path` for the test's length: read-only, or with one page taken of one.
class SmallFolder {
 public:
  SmallFolder(const std::string& path, const char* options, bool fill) : path_(path) {
    ::mkdir(path.c_str(), 0755);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0;
    if (mounted_ && fill) WriteFile(path + "/filler", std::string(4096, '\0'));
  }
  ~SmallFolder() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallFolder(const SmallFolder&) = delete;
  SmallFolder& operator=(const SmallFolder&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// A temporary folder that cannot take the SFLD copy is the folder's trouble, not the
// image's: the image is accepted, read from a copy without a name, and TMPDIR is named.
TEST(BadTmpdir, TheImageIsAcceptedAndTmpdirIsNamed) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 256);
  struct Case {
    const char* what;
    const char* folder;
    const char* mountOptions;  // nullptr: no mount
    bool fill;
    const char* error;
  };
  const Case cases[] = {
      {"missing", "missing", nullptr, false, "No such file or directory"},
      {"a file", "file", nullptr, false, "Not a directory"},
      {"read-only", "readonly", "size=64k,ro", false, "Read-only file system"},
      {"full", "full", "size=4k", true, "No space left on device"},
  };
  WriteFile(dir.File("file"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.mountOptions != nullptr && ::geteuid() != 0) continue;  // mounts need root
    const std::string tmp = dir.File(c.folder);
    std::unique_ptr<SmallFolder> small;
    if (c.mountOptions != nullptr) {
      small = std::make_unique<SmallFolder>(tmp, c.mountOptions, c.fill);
      ASSERT_TRUE(small->Mounted()) << "mount -t tmpfs -o " << c.mountOptions;
    }
    ChildProcess check({"/usr/bin/env", "TMPDIR=" + tmp, ProgramPath("gpsfwload"), "--check", "-i",
                        images.container, "-l", dir.File("check.log")},
                       dir.File("out"), dir.File("err"));
    EXPECT_EQ(check.Wait(60), 0) << ReadFile(dir.File("err"));
    const std::string err = ReadFile(dir.File("err"));
    EXPECT_NE(err.find("the image's SFLD cannot be copied to " + tmp + "/sfld_tmp.hex (TMPDIR is " +
                       tmp + ": " + c.error + "); the update reads a copy that has no name"),
              std::string::npos)
        << err;
    EXPECT_NE(ReadFile(dir.File("out")).find("Verdict:        accepted with 1 warning\n"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace gpsfw::test
