// Every failed run says why: on standard error (also when it is no terminal), in the event
// stream's "done" event, beside a progress log that stays as it always was.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "platform/text.h"

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
  int Loader(std::vector<std::string> args, const std::string& program = ProgramPath("gpsfwload")) {
    args.insert(args.begin(), program);
    args.insert(args.end(), {"-l", dir.File("g.txt"), "--events", dir.File("ev.jsonl")});
    test::ChildProcess child(args, dir.File("stdout"), dir.File("stderr"));
    const int status = child.Wait(120);
    err = ReadFile(dir.File("stderr"));
    log = ReadFile(dir.File("g.txt"));
    const std::string events = ReadFile(dir.File("ev.jsonl"));
    done = test::FromLast(events, "{\"t\"");
    return status;
  }
  TempDir dir;
  std::string err;
  std::string log;
  std::string done;  // the last event
};

// A pty whose other end nobody answers: a port that opens.
struct Pty {
  Pty() {
    int slave = -1;
    char path[256];
    if (openpty(&master, &slave, path, nullptr, nullptr) == 0) {
      close(slave);
      name = path;
    }
  }
  ~Pty() { close(master); }
  int master = -1;
  std::string name;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  test::WriteFile(path, bytes);
}

TEST_F(LoaderFailure, EveryFailureNamesItsCause) {
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  // An installed loader: its fallback SFLD beside it.
  const std::string loader = test::CopyProgram("gpsfwload", dir.File("bin"));
  std::filesystem::copy_file(images.sfld, dir.File("bin/sfld.hex"));
  const std::string bare = ProgramPath("gpsfwload");  // no sfld.hex beside it
  const std::string good = ReadFile(images.container);
  const std::string bareImage = ReadFile(images.bare);
  WriteBytes(dir.File("empty.bin"), "");
  WriteBytes(dir.File("truncated.bin"), bareImage.substr(0, 0x4000 + 256));
  std::string corrupt = good;
  corrupt[0x4000 + 64] ^= 0x01;
  WriteBytes(dir.File("corrupt.bin"), corrupt);
  std::string damagedTail = good;
  damagedTail.back() ^= 0x01;
  WriteBytes(dir.File("tail.bin"), damagedTail);
  const std::string srec = ReadFile(images.srec);
  const size_t secondLine = srec.find('\n') + 1;
  WriteBytes(dir.File("long.srec"), srec.substr(0, secondLine) + "S3" + std::string(300, '0') +
                                        "\n" + srec.substr(secondLine));
  Pty pty;
  ASSERT_FALSE(pty.name.empty());
  wchar_t wide[256];
  platform::WideFromNarrow(wide, 256, pty.name.c_str());

  const std::string portLog =
      "GPS FW Loader v1.0.0 \r\nCan not open serial port 1.\r\nRetCode: -2\r\n";
  struct Case {
    std::string name;
    std::vector<std::string> args;
    int status;
    std::string reason;
    std::vector<std::string> words;  // on standard error and in the done event's message
    std::string logged;              // a line of the log as it always was
    std::string program;
  };
  const std::vector<Case> cases = {
      {"missing port",
       {"-i", images.container, "-p", "/dev/no-such-port"},
       254,
       "port_not_found",
       {"'/dev/no-such-port'", "No such file or directory", "serial ports"},
       portLog,
       loader},
      {"COM3 without its colon",
       {"-i", images.container, "-p", "COM3"},
       254,
       "port_not_found",
       {"'COM3:' (with its colon)"},
       portLog,
       loader},
      {"not a serial port",
       {"-i", images.container, "-p", "/dev/null"},
       254,
       "not_a_serial_port",
       {"'/dev/null'", "not a serial port"},
       portLog,
       loader},
      {"missing image",
       {"-i", dir.File("none.bin"), "-p", pty.name},
       253,
       "image_not_found",
       {dir.File("none.bin"), "No such file or directory"},
       "File open error (",
       loader},
      {"missing image, no sfld.hex",
       {"-i", dir.File("none.bin"), "-p", pty.name},
       253,
       "image_not_found",
       {dir.File("none.bin")},
       "SFLD section skipped",
       bare},
      {"image is a directory",
       {"-i", dir.path(), "-p", pty.name},
       253,
       "image_not_regular",
       {"not a regular file"},
       "RetCode: -3",
       loader},
      {"empty image",
       {"-i", dir.File("empty.bin"), "-p", pty.name},
       253,
       "image_empty",
       {"empty.bin", "empty"},
       "RetCode: -3",
       loader},
      {"truncated image",
       {"-i", dir.File("truncated.bin"), "-p", pty.name},
       253,
       "image_truncated",
       {"truncated.bin", "16640 bytes where the FW section needs"},
       "FW CRC: ",
       loader},
      {"corrupted image",
       {"-i", dir.File("corrupt.bin"), "-p", pty.name},
       253,
       "image_checksum",
       {"corrupt.bin", "FW section's checksum", "stored 0x", "computed 0x"},
       "FAILED.",
       loader},
      {"truncated image without sfld.hex",
       {"-i", dir.File("truncated.bin"), "-p", pty.name},
       253,
       "image_truncated",
       {"truncated.bin", "16640 bytes where the FW section needs"},
       "SFLD section skipped",
       bare},
      {"S-record line too long",
       {"-i", dir.File("long.srec"), "-p", pty.name},
       253,
       "image_format",
       {"long.srec", "line 2 is longer than the 254 characters"},
       "Image Format Error",
       loader},
      {"no SFLD anywhere",
       {"-i", images.bare, "-p", pty.name},
       253,
       "sfld_missing",
       {"sfld.hex"},
       "SFLD section skipped",
       bare},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Loader(c.args, c.program), c.status) << c.name;
    EXPECT_NE(done.find("\"reason\":\"" + c.reason + "\""), std::string::npos) << c.name << done;
    for (const std::string& word : c.words) {
      EXPECT_NE(err.find(word), std::string::npos) << c.name << ": " << word << " in " << err;
      EXPECT_NE(done.find(word), std::string::npos) << c.name << ": " << word << " in " << done;
    }
    EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << log;
  }

  // A port another program holds: the holder is named.
  SerialLink held;
  ASSERT_TRUE(OpenPort(held, platform::Serial(), wide, 57600));
  EXPECT_EQ(Loader({"-i", images.container, "-p", pty.name}, loader), 254);
  ClosePort(held);
  EXPECT_NE(done.find("\"reason\":\"port_busy\""), std::string::npos) << done;
  EXPECT_NE(err.find("PID " + std::to_string(getpid())), std::string::npos) << err;
  EXPECT_EQ(log, portLog);

  // A damaged tail is replaced by sfld.hex, with a warning; the run goes on.
  EXPECT_EQ(Loader({"-i", dir.File("tail.bin"), "-p", pty.name, "--give-up-after", "1"}, loader),
            248);
  EXPECT_NE(err.find("warning: the SFLD tail of image"), std::string::npos) << err;
  EXPECT_NE(ReadFile(dir.File("ev.jsonl")).find("\"reason\":\"sfld_tail_damaged\""),
            std::string::npos);
}

// A port this user may not open names its group and how to join it. Needs root, to run the
// loader as nobody.
TEST_F(LoaderFailure, ForbiddenPortNamesItsGroup) {
  if (geteuid() != 0 || !std::filesystem::exists("/usr/sbin/runuser")) {
    GTEST_SKIP() << "needs root and runuser to run the loader as nobody";
  }
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::string why;
  const std::string loader = test::CopyProgramForAnyUser("gpsfwload", dir.path(), why);
  ASSERT_FALSE(loader.empty()) << why;
  Pty pty;
  ASSERT_EQ(chmod(pty.name.c_str(), 0660), 0);
  EXPECT_EQ(Loader({"/usr/sbin/runuser", "-u", "nobody", "--", loader, "-i", images.container, "-p",
                    pty.name},
                   "/usr/bin/env"),
            254);
  EXPECT_NE(done.find("\"reason\":\"port_permission\""), std::string::npos) << done;
  EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
  EXPECT_NE(err.find("sudo usermod -aG"), std::string::npos) << err;
}

// A receiver that never answers: the loader gives up after the time given, at its next poll.
TEST_F(LoaderFailure, GiveUpAfterExitsWith248AndSaysSo) {
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  EXPECT_EQ(Loader({"-i", images.container, "-p", name, "--give-up-after", "1"}), 248);
  close(master);
  EXPECT_EQ(test::LastBytes(log, 32), "Gave up after 1 s\r\nRetCode: -8\r\n");
  EXPECT_NE(done.find("\"reason\":\"gave_up\""), std::string::npos) << done;
  EXPECT_NE(err.find("no complete update within 1 s"), std::string::npos) << err;
}

}  // namespace
}  // namespace gpsfw
