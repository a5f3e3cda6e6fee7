#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace gpsfw::station {

// One run of the factory's hook: `/bin/sh -c CMD` in a process group of its own, with `input`
// on its standard input (then its end), its standard output and error in one pipe. The
// runner polls it; nothing here blocks.
class HookProcess {
 public:
  HookProcess() = default;
  ~HookProcess();  // a hook still running is killed with its group and reaped
  HookProcess(const HookProcess&) = delete;
  HookProcess& operator=(const HookProcess&) = delete;

  // False, with `error` set, when the shell cannot be started.
  bool Start(const std::string& command, const std::vector<std::string>& env, std::string input,
             std::chrono::steady_clock::time_point deadline, std::string& error);
  // The descriptors to poll and the events wanted on each (-1 when none).
  int InFd() const { return in_.Get(); }
  int OutFd() const { return out_.Get(); }
  // Writes what the pipe takes of the input, reads what came out; never blocks.
  void Pump();
  // Kills the group once its deadline has passed; reaps the shell once it has ended. True
  // when it has been reaped: Status() then holds the outcome.
  bool Check(std::chrono::steady_clock::time_point now);
  // "ok", "exit N", "signal N" or "timed out".
  const std::string& Status() const { return status_; }
  // The first line the hook wrote, within a bound; the rest is dropped.
  const std::string& FirstLine() const { return firstLine_; }
  std::chrono::steady_clock::time_point Deadline() const { return deadline_; }

 private:
  void Kill();

  pid_t pid_ = -1;
  bool killed_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  std::string input_;
  size_t written_ = 0;
  std::string firstLine_;
  bool lineDone_ = false;
  std::string status_;
  platform::UniqueFd in_;
  platform::UniqueFd out_;
};

// What an exit status of the shell says: "ok", "exit N", "signal N".
std::string HookStatusOf(int waitStatus);

}  // namespace gpsfw::station
