#include "tools/gpsfwstation/run/loader_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace gpsfw::station {
namespace {

// The signals the station catches or ignores: the loader gets them back at their defaults.
constexpr int kDefaultSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD};
// How long a loader that outlives its unit gets to restore its port before it is killed.
constexpr int kLastWordsMs = 1000;
constexpr int kReapStepMs = 10;
constexpr int kReadsPerTurn = 16;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// The read end is non-blocking for the station's poll loop; the loader writes to a blocking
// end, so that a busy station slows it down instead of losing its events.
bool MakePipe(platform::UniqueFd& readEnd, platform::UniqueFd& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
  return fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool Prepare(int outFd, int errFd) {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : kDefaultSignals) sigaddset(&defaults, signal);
    return posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) ==
               0 &&
           posix_spawn_file_actions_adddup2(&actions_, outFd, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, errFd, STDERR_FILENO) == 0 &&
           posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
           posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
           posix_spawnattr_setflags(
               &attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void SleepMs(int ms) {
  const timespec pause{0, ms * 1000000L};
  nanosleep(&pause, nullptr);
}

}  // namespace

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

LoaderProcess::~LoaderProcess() {
  if (!Running()) return;
  SignalGroup(SIGTERM);
  for (int waited = 0; waited < kLastWordsMs && !Reap(); waited += kReapStepMs) {
    SleepMs(kReapStepMs);
  }
  if (Running()) {
    SignalGroup(SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool LoaderProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          std::string& error) {
  platform::UniqueFd outWrite;
  platform::UniqueFd errWrite;
  SpawnSetup setup;
  if (!MakePipe(out_, outWrite) || !MakePipe(err_, errWrite) ||
      !setup.Prepare(outWrite.Get(), errWrite.Get())) {
    error = std::string("cannot set up the loader's pipes: ") + strerror(errno);
    return false;
  }
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  const int rc =
      posix_spawn(&pid_, args[0], setup.Actions(), setup.Attr(), args.data(), envp.data());
  if (rc != 0) {
    pid_ = -1;
    error = "cannot start " + argv[0] + ": " + strerror(rc);
    return false;
  }
  return true;
}

bool LoaderProcess::Reap() {
  if (pid_ <= 0) return true;
  int status = 0;
  rusage usage{};
  const pid_t r = wait4(pid_, &status, WNOHANG, &usage);
  if (r == 0 || (r < 0 && errno == EINTR)) return false;
  status_ = r == pid_ ? DecodeStatus(status) : -1;
  cpuSeconds_ = station::CpuSeconds(usage);
  pid_ = -1;
  return true;
}

void LoaderProcess::SignalGroup(int signal) {
  if (pid_ > 0) kill(-pid_, signal);
}

bool ReadAvailable(int fd, std::string& into) {
  char buffer[4096];
  // A bounded number of reads, so that a loader that writes without end cannot hold the
  // station's loop: what is left comes at the next turn.
  for (int reads = 0; reads < kReadsPerTurn; ++reads) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
  return true;
}

}  // namespace gpsfw::station
