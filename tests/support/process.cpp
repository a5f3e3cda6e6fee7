#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tests/support/watchdog.h"

namespace gpsfw::test {
namespace {

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void RedirectTo(const std::string& path, int target) {
  if (path.empty()) return;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) dup2(fd, target);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                           const std::string& stderrPath) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    RedirectTo(stdoutPath, STDOUT_FILENO);
    RedirectTo(stderrPath, STDERR_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid_ > 0) WatchChild(pid_);
  name_ = argv.empty() ? "" : argv[0].substr(argv[0].find_last_of('/') + 1);
}

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) status_ = DecodeStatus(status);
  UnwatchChild(pid_);
  pid_ = -1;
  return false;
}

int ChildProcess::Wait(double seconds) {
  Awaiting(name_ + " to exit");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

void ChildProcess::Signal(int signal) {
  if (Running()) kill(pid_, signal);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  Awaiting(name_ + " to end after SIGTERM");
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200 && Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid_ <= 0) return;
  // SIGKILL cannot be caught; the bound only guards against a child the kernel cannot end.
  Awaiting(name_ + " to end after SIGKILL");
  kill(pid_, SIGKILL);
  for (int i = 0; i < 1000 && Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int RunProcess(const std::vector<std::string>& argv, double seconds) {
  ChildProcess child(argv);
  return child.Wait(seconds);
}

bool WaitForPath(const std::string& path, double seconds) {
  Awaiting(path + " to appear");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::error_code error;
  while (!std::filesystem::is_symlink(path, error) && !std::filesystem::exists(path, error)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ProgramPath(const std::string& name) {
  return std::string(GPSFW_BIN_DIR) + "/" + name;
}

std::string CopyProgram(const std::string& name, const std::string& folder) {
  std::filesystem::create_directories(folder);
  const std::string copy = folder + "/" + name;
  std::filesystem::copy_file(ProgramPath(name), copy);
  // Under emulation the program is a script that starts NAME.elf beside it through the
  // emulator (cmake/emulated_programs.cmake): the pair is the program.
  const std::string emulated = ProgramPath(name) + ".elf";
  if (std::filesystem::exists(emulated)) std::filesystem::copy_file(emulated, copy + ".elf");
  return copy;
}

std::vector<std::string> Started(const std::string& program,
                                 const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  const std::string emulator = GPSFW_EMULATOR;
  for (size_t start = 0; start < emulator.size();) {
    size_t end = emulator.find(' ', start);
    if (end == std::string::npos) end = emulator.size();
    if (end > start) argv.push_back(emulator.substr(start, end - start));
    start = end + 1;
  }
  argv.push_back(program);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::string CopyProgramForAnyUser(const std::string& name, const std::string& folder,
                                  std::string& why) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::path at = fs::absolute(folder, error); !at.empty(); at = at.parent_path()) {
    const fs::perms perms = fs::status(at, error).permissions();
    if (!error && (perms & fs::perms::others_exec) == fs::perms::none) {
      char mode[16];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(perms) & 07777u);
      why = at.string() + " (mode " + mode +
            ") cannot be entered by other users; give the tests a temporary folder they can "
            "reach (TMPDIR)";
      return "";
    }
    if (at == at.parent_path()) break;
  }
  const std::string copy = CopyProgram(name, folder + "/bin");
  fs::permissions(folder + "/bin", fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  return copy;
}

std::string FromLast(const std::string& text, const std::string& marker) {
  const size_t at = text.rfind(marker);
  return at == std::string::npos ? "" : text.substr(at);
}

std::string LastBytes(const std::string& text, size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

}  // namespace gpsfw::test
