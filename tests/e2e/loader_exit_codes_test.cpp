// The loader as a user runs it: a separate process, its exit status and its log file.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "report/progress_log.h"
#include "link/serial_port.h"
#include "platform/text.h"
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
  TempDir dir;
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
  PortHandle held = OpenPort(wide, 57600);
  ASSERT_NE(held, INVALID_PORT);
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

}  // namespace
}  // namespace gpsfw
