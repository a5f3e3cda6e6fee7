// The loader on a real terminal: its standard error on a pseudo-terminal of 80 columns,
// an update against gpsfwsim; the status line must reach 100 % and end in the summary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

// Runs argv with its standard error on the slave of a fresh pty and gathers what the
// terminal shows, until the program ends or `seconds` pass. The exit status, -1 on time-out.
int RunOnTerminal(const std::vector<std::string>& argv, std::string& shown, double seconds) {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return -2;
  platform::UniqueFd masterFd(master);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(slave, STDERR_FILENO);
    close(slave);
    setenv("TERM", "xterm", 1);
    unsetenv("NO_COLOR");
    execv(args[0], args.data());
    _exit(127);
  }
  close(slave);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = -1;
  for (;;) {
    pollfd entry{master, POLLIN, 0};
    if (poll(&entry, 1, 100) == 1) {
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) shown.append(buffer, static_cast<size_t>(n));
    }
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) {
      status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      return -1;
    }
  }
  for (;;) {  // what the program wrote before it ended
    pollfd entry{master, POLLIN, 0};
    char buffer[4096];
    if (poll(&entry, 1, 0) != 1) break;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<size_t>(n));
  }
  return status;
}

TEST(TerminalProgressTest, StatusLineOnARealTerminalReachesAHundredPercent) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  const std::string link = dir.File("gps0");
  ChildProcess sim({ProgramPath("gpsfwsim"), "--link", link, "--once", "--expect", images.container,
                    "--time-limit", "240"},
                   dir.File("sim.out"));
  WaitForPath(link);
  std::string shown;
  const int status = RunOnTerminal(
      {ProgramPath("gpsfwload"), "-i", images.container, "-p", link, "-l", dir.File("log")}, shown,
      240);
  EXPECT_EQ(status, 0) << shown;
  EXPECT_EQ(sim.Wait(30), 0);
  EXPECT_NE(shown.find("programming 100%  20480/20480 bytes"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\x1b[K"), std::string::npos) << "a terminal that erases lines";
  EXPECT_NE(shown.find("\x1b[32mupdate complete: fw.bin on " + link), std::string::npos) << shown;
}

}  // namespace
}  // namespace gpsfw::test
