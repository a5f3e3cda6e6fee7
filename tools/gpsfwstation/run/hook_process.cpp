#include "tools/gpsfwstation/run/hook_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gpsfw::station {
namespace {

// The signals the station catches or ignores: the hook gets them back at their defaults.
constexpr int kDefaultSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD};
// What of the hook's output is kept: its first line, for the message of a failure.
constexpr size_t kFirstLineBound = 200;

bool MakePipe(int fds[2]) {
  return pipe2(fds, O_CLOEXEC) == 0;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// The child's side: stdin from `inFd`, stdout and stderr into `outFd`, its own group.
int Spawn(pid_t& pid, const std::string& command, const std::vector<std::string>& env, int inFd,
          int outFd) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : kDefaultSignals) sigaddset(&defaults, signal);
  posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const std::vector<std::string> argv = {"/bin/sh", "-c", command};
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  const int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc;
}

}  // namespace

std::string HookStatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) {
    const int code = WEXITSTATUS(waitStatus);
    return code == 0 ? "ok" : "exit " + std::to_string(code);
  }
  if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
  return "exit ?";
}

HookProcess::~HookProcess() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

bool HookProcess::Start(const std::string& command, const std::vector<std::string>& env,
                        std::string input, std::chrono::steady_clock::time_point deadline,
                        std::string& error) {
  int in[2];
  int out[2];
  if (!MakePipe(in)) {
    error = std::string("cannot make a pipe: ") + strerror(errno);
    return false;
  }
  platform::UniqueFd inRead(in[0]);
  in_.Reset(in[1]);
  if (!MakePipe(out)) {
    error = std::string("cannot make a pipe: ") + strerror(errno);
    return false;
  }
  out_.Reset(out[0]);
  platform::UniqueFd outWrite(out[1]);
  // The station's ends never block: a hook that reads nothing or writes without end only
  // costs it a few polls.
  fcntl(in_.Get(), F_SETFL, O_NONBLOCK);
  fcntl(out_.Get(), F_SETFL, O_NONBLOCK);
  const int rc = Spawn(pid_, command, env, inRead.Get(), outWrite.Get());
  if (rc != 0) {
    pid_ = -1;
    error = std::string("cannot start /bin/sh: ") + strerror(rc);
    return false;
  }
  input_ = std::move(input);
  deadline_ = deadline;
  return true;
}

void HookProcess::Pump() {
  while (in_.Valid() && written_ < input_.size()) {
    const ssize_t n = write(in_.Get(), input_.data() + written_, input_.size() - written_);
    if (n > 0) {
      written_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno == EAGAIN) break;
      in_.Reset();  // the hook closed its standard input (EPIPE): it wants no more
    }
  }
  if (in_.Valid() && written_ == input_.size()) in_.Reset();  // then EOF
  char buffer[4096];
  for (int reads = 0; out_.Valid() && reads < 16; ++reads) {
    const ssize_t n = read(out_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      out_.Reset();
      break;
    }
    for (ssize_t i = 0; i < n && !lineDone_; ++i) {
      const char c = buffer[i];
      if (c == '\n' && !firstLine_.empty()) lineDone_ = true;
      if (c == '\n' || c == '\r') continue;
      if (firstLine_.size() < kFirstLineBound) firstLine_ += c;
    }
  }
}

void HookProcess::Kill() {
  if (pid_ > 0 && !killed_) kill(-pid_, SIGKILL);
  killed_ = true;
}

bool HookProcess::Check(std::chrono::steady_clock::time_point now) {
  if (pid_ <= 0) return true;
  if (now >= deadline_) Kill();
  // Looked at before it is reaped, so that the group is signalled while its id is still the
  // shell's: what the shell left behind (a pipe's other programs) ends with it.
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != ECHILD) return false;
    status_ = killed_ ? "timed out" : "exit ?";  // reaped by someone else: no status to tell
    pid_ = -1;
    return true;
  }
  if (info.si_pid != pid_) return false;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  status_ = killed_ ? "timed out" : HookStatusOf(status);
  pid_ = -1;
  Pump();
  in_.Reset();
  out_.Reset();
  return true;
}

}  // namespace gpsfw::station
