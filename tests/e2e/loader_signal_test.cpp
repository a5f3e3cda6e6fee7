// A loader stopped by a signal, in real time on a pty: it ends at once, restores the port and
// says so in its log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

// The loader must stop within 0.5 s; the bound leaves room for a loaded machine.
constexpr double kStopBoundSeconds = 2.0;

// The line settings and locks of the tty at `path`, as a second user of the port sees them.
struct PortState {
  bool opened = false;
  termios settings{};
  bool exclusive = true;
  bool lockable = false;
};

// Exclusive mode turns away every open but a privileged one (CAP_SYS_ADMIN): a child without
// that capability tries to open the port.
bool RefusedToTheUnprivileged(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, caps) != 0) _exit(2);
    caps[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective &= ~CAP_TO_MASK(CAP_SYS_ADMIN);
    if (syscall(SYS_capset, &header, caps) != 0) _exit(2);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd >= 0 ? 0 : (errno == EBUSY ? 1 : 2));
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return true;
  return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}

PortState Inspect(const std::string& path) {
  PortState state;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return state;
  state.opened = tcgetattr(fd, &state.settings) == 0;
  int exclusive = 1;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0) {
    state.exclusive = exclusive != 0;
  } else {
    // qemu user-mode passes no TIOCGEXCL on to the kernel (ENOSYS).
    state.exclusive = errno != ENOSYS || RefusedToTheUnprivileged(path);
  }
  state.lockable = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return state;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

bool WaitForLine(const std::string& log, const std::string& line, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFile(log).find(line + "\r\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

struct StopCase {
  int signal;
  bool withReceiver;  // gpsfwsim answers; otherwise nobody reads the line
  const char* reached;
};

void PrintTo(const StopCase& c, std::ostream* out) {
  *out << "SIG" << sigabbrev_np(c.signal) << " after \"" << c.reached << "\"";
}

class LoaderSignal : public ::testing::TestWithParam<StopCase> {
 protected:
  TempDir dir;
};

TEST_P(LoaderSignal, EndsAtOnceWithThePortRestoredAndTheLogClosed) {
  const StopCase c = GetParam();
  const ImageFiles images = MakeImages(dir, 1024, 32768, 2048);
  std::string port = dir.File("gps0");
  int master = -1;
  std::unique_ptr<ChildProcess> sim;
  if (c.withReceiver) {
    sim = std::make_unique<ChildProcess>(
        std::vector<std::string>{ProgramPath("gpsfwsim"), "--link", port, "--once", "--time-limit",
                                 "120"},
        dir.File("sim.out"));
    for (int i = 0; i < 400 && !std::filesystem::exists(port); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  } else {
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    port = name;
  }
  const PortState before = Inspect(port);
  ASSERT_TRUE(before.opened);

  const std::string log = dir.File("update.log");
  ChildProcess loader({ProgramPath("gpsfwload"), "-i", images.container, "-p", port, "-l", log});
  ASSERT_TRUE(WaitForLine(log, c.reached, 60)) << ReadFile(log);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto sent = std::chrono::steady_clock::now();
  loader.Signal(c.signal);
  EXPECT_EQ(loader.Wait(60), 128 + c.signal);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
  EXPECT_LT(took.count(), kStopBoundSeconds);

  const std::string text = ReadFile(log);
  const std::string end =
      "Interrupted by signal " + std::to_string(c.signal) + "\r\nRetCode: -7\r\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(LastBytes(text, end.size()), end) << text;
  const PortState after = Inspect(port);
  ASSERT_TRUE(after.opened);
  EXPECT_TRUE(SameSettings(after.settings, before.settings));
  EXPECT_FALSE(after.exclusive);
  EXPECT_TRUE(after.lockable);
  if (master >= 0) close(master);
}

std::string CaseName(const ::testing::TestParamInfo<StopCase>& info) {
  return std::string(sigabbrev_np(info.param.signal)) +
         (info.param.withReceiver ? "_WithReceiver" : "_OnASilentLine");
}

INSTANTIATE_TEST_SUITE_P(Signals, LoaderSignal,
                         ::testing::Values(StopCase{SIGTERM, true, "FLASH Programming..."},
                                           StopCase{SIGHUP, true, "Uploading SFLD..."},
                                           StopCase{SIGINT, false,
                                                    "Waiting for target answer at 19200..."}),
                         CaseName);

}  // namespace
}  // namespace gpsfw::test
