// The loader as a user runs it: a separate process, its exit status and its log file.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "link/serial_port.h"
#include "platform/text.h"
#include "report/progress_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"

namespace gpsfw {
namespace {

using test::ProgramPath;
using test::ReadFile;
using test::RunProcess;
using test::TempDir;

class LoaderProcess : public ::testing::Test {
 protected:
  int Loader(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath("gpsfwload"));
    return RunProcess(args, 120);
  }
  // Runs the loader in the test's directory with its output collected in `out` and `err`.
  int LoaderHere(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath("gpsfwload"));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    test::ChildProcess child(args, dir.File("stdout"), dir.File("stderr"));
    const int status = child.Wait(120);
    std::filesystem::current_path(previous);
    out = ReadFile(dir.File("stdout"));
    err = ReadFile(dir.File("stderr"));
    std::filesystem::remove(dir.File("stdout"));
    std::filesystem::remove(dir.File("stderr"));
    return status;
  }
  TempDir dir;
  std::string out;
  std::string err;
};

TEST_F(LoaderProcess, WithoutImageOptionExitsWith250) {
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Loader({"-l", log}), 250);
  EXPECT_EQ(ReadFile(log),
            "GPS FW Loader v1.0.0 \r\nFW image file (-i parameter) missed\r\nRetCode: -6\r\n");
}

TEST_F(LoaderProcess, LogInMissingFolderExitsWith251AndCreatesNothing) {
  EXPECT_EQ(Loader({"-i", "/x.bin", "-l", dir.File("missing/g.txt")}), 251);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(LoaderProcess, MissingPortExitsWith254) {
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Loader({"-i", "/x.bin", "-p", "/dev/no-such-port", "-l", log}), 254);
  EXPECT_EQ(ReadFile(log),
            "GPS FW Loader v1.0.0 \r\nCan not open serial port 1.\r\nRetCode: -2\r\n");
}

TEST_F(LoaderProcess, PortHeldByAnotherLoaderExitsWith254) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  wchar_t wide[256];
  platform::WideFromNarrow(wide, 256, name);
  SerialLink held;
  ASSERT_TRUE(OpenPort(held, platform::Serial(), wide, 57600));
  EXPECT_EQ(Loader({"-i", "/x.bin", "-p", name, "-l", dir.File("g.txt")}), 254);
  ClosePort(held);
  close(master);
}

TEST_F(LoaderProcess, OptionInsideAPathIsNotAnOption) {
  const std::string log = dir.File("LOG");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(Loader({"-i", "/x/gps-loader.bin", "-p", "/dev/no-such-port", "-l", log}), 254);
  std::filesystem::current_path(previous);
  EXPECT_FALSE(std::filesystem::exists(dir.File("oader.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("grelm.txt")));
  EXPECT_NE(ReadFile(log).find("RetCode: -2"), std::string::npos);
}

TEST_F(LoaderProcess, RefusedCommandLinesExitWith2AndWriteNoLog) {
  const std::string tooLong(5000, 'a');
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-i", "fw.bin", "-x"}, "gpsfwload: unknown option '-x'\n"},
      {{"-i", "fw.bin", "grelm.txt"}, "gpsfwload: unexpected argument 'grelm.txt'\n"},
      {{"-i", "fw.bin", "--trace"}, "gpsfwload: missing value after '--trace'\n"},
      {{"-i", tooLong}, "gpsfwload: too long a value (over the platform's path limit) for '-i'\n"},
      {{"-i", "fw.bin", "-\x1b[2J"}, "gpsfwload: unknown option '-\\x1B[2J'\n"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(LoaderHere(args), 2) << message;
    EXPECT_EQ(err.substr(0, err.find('\n') + 1), message);
    EXPECT_NE(err.find("gpsfwload --help"), std::string::npos);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << message;
  }
}

TEST_F(LoaderProcess, HelpAndVersionPrintToStandardOutputAndWriteNoLog) {
  EXPECT_EQ(LoaderHere({"--version"}), 0);
  EXPECT_EQ(out, "gpsfwload 1.0.0\n");
  for (const char* help : {"-h", "--help"}) {
    EXPECT_EQ(LoaderHere({"-i", "fw.bin", help}), 0);
    EXPECT_EQ(out.rfind("Usage: gpsfwload -i IMAGE [-p PORT] [-l LOG] [options]\n", 0), 0u);
    EXPECT_NE(out.find("--events FILE"), std::string::npos);
    EXPECT_EQ(err, "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// However the log path leads to the image, the image keeps its bytes.
TEST_F(LoaderProcess, LogThatIsTheImageExitsWith251AndLeavesItUntouched) {
  const std::string image = dir.File("fw.bin");
  const std::string content(1000, '\x5A');
  test::WriteFile(image, content);
  ASSERT_EQ(link(image.c_str(), dir.File("hard.bin").c_str()), 0);
  ASSERT_EQ(symlink(image.c_str(), dir.File("soft.bin").c_str()), 0);
  ASSERT_EQ(symlink(dir.File("victim.txt").c_str(), dir.File("planted.txt").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"fw.bin", "it is the firmware image or an SFLD file"},
      {"./fw.bin", "it is the firmware image or an SFLD file"},
      {"hard.bin", "it is the firmware image or an SFLD file"},
      {"soft.bin", "it is a symbolic link"},
      {"planted.txt", "it is a symbolic link"},
  };
  for (const auto& [log, why] : cases) {
    EXPECT_EQ(LoaderHere({"-i", "fw.bin", "-p", "/dev/no-such-port", "-l", log}), 251) << log;
    EXPECT_EQ(err.rfind("gpsfwload: cannot use the log '" + log + "': " + why, 0), 0u) << err;
    EXPECT_EQ(ReadFile(image), content) << log;
    EXPECT_FALSE(std::filesystem::exists(dir.File("victim.txt")));
  }
}

// Each argument is one token: a long path or a blank inside one never cuts or adds options.
TEST_F(LoaderProcess, EveryArgumentIsOneWholeToken) {
  const std::string longImage = "/" + std::string(200, 'd') + "/" + std::string(110, 'f');
  const std::vector<std::vector<std::string>> orders = {
      {"-p", "/dev/no-such-port", "-l", "L", "-i", longImage},
      {"-i", longImage, "-p", "/dev/no-such-port", "-l", "L"},
      {"-p", "/dev/no-such-port", "-l", "L", "-i", "/x -L victim.txt"},
  };
  for (const std::vector<std::string>& args : orders) {
    EXPECT_EQ(LoaderHere(args), 254);
    EXPECT_EQ(ReadFile(dir.File("L")),
              "GPS FW Loader v1.0.0 \r\nCan not open serial port 1.\r\nRetCode: -2\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("grelm.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("victim.txt")));
  }
}

}  // namespace
}  // namespace gpsfw
