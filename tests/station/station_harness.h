#pragma once

// Programs of the station's tests: a process with its output in a file, and simulated
// receivers on ptys.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"

namespace gpsfw::test {

// A program with its standard output and error in one file; it can be signalled.
class Program {
 public:
  Program(const std::vector<std::string>& argv, const std::string& outputPath) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signal) { kill(pid_, signal); }
  int Wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

inline bool WaitFor(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

inline bool SimulatorServesMany() {
  const std::string help = ProgramPath("gpsfwsim") + " --help";
  return system((help + " | grep -q -- --count").c_str()) == 0;
}

// N simulated receivers at dir/gps0... : one gpsfwsim --count N, or one gpsfwsim per port
// where --count is not there. `unitOptions` go to receiver 1 alone.
class Receivers {
 public:
  Receivers(const TempDir& dir, int count, const std::string& image,
            const std::vector<std::string>& unitOptions = {})
      : dir_(dir) {
    const std::vector<std::string> common = {ProgramPath("gpsfwsim"), "--expect", image,
                                             "--time-limit", "200"};
    if (SimulatorServesMany()) {
      std::vector<std::string> argv = common;
      argv.insert(argv.end(), {"--count", std::to_string(count), "--link", dir.File("gps%d")});
      if (!unitOptions.empty()) argv.insert(argv.end(), {"--unit", "1"});
      argv.insert(argv.end(), unitOptions.begin(), unitOptions.end());
      sims_.push_back(std::make_unique<Program>(argv, dir.File("sim.out")));
    } else {
      for (int i = 0; i < count; ++i) {
        std::vector<std::string> argv = common;
        argv.insert(argv.end(), {"--link", Port(i)});
        if (i == 1) argv.insert(argv.end(), unitOptions.begin(), unitOptions.end());
        sims_.push_back(
            std::make_unique<Program>(argv, dir.File("sim" + std::to_string(i) + ".out")));
      }
    }
    for (int i = 0; i < count; ++i) ports_.push_back(Port(i));
    WaitFor([&] { return std::filesystem::exists(ports_.back()); }, 10);
  }
  std::string Port(int i) const { return dir_.File("gps" + std::to_string(i)); }
  const std::vector<std::string>& Ports() const { return ports_; }
  // Stops the receivers and gives what they said.
  std::string Stop() {
    std::string output;
    for (size_t i = 0; i < sims_.size(); ++i) {
      sims_[i]->Signal(SIGTERM);
      sims_[i]->Wait(10);
      output +=
          ReadFile(dir_.File(sims_.size() == 1 ? "sim.out" : "sim" + std::to_string(i) + ".out"));
    }
    return output;
  }

 private:
  const TempDir& dir_;
  std::vector<std::unique_ptr<Program>> sims_;
  std::vector<std::string> ports_;
};

}  // namespace gpsfw::test
