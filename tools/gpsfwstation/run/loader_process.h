#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace gpsfw::station {

// One loader run as a child in a process group of its own, so that a Ctrl-C at the station's
// terminal reaches the station alone, and a stop reaches the loader and anything it starts.
// Its standard output and standard error come back through pipes; standard input is
// /dev/null.
class LoaderProcess {
 public:
  LoaderProcess() = default;
  ~LoaderProcess();  // a loader still running is killed and reaped: no child outlives its unit
  LoaderProcess(const LoaderProcess&) = delete;
  LoaderProcess& operator=(const LoaderProcess&) = delete;

  // Starts argv[0] with `env` as its whole environment. False, with `error` set, when it
  // cannot be started (the program missing or not executable is found only by its exit 127).
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             std::string& error);
  // Reaps the child when it has ended; true once it has. `status` is its exit status, or
  // 128 + the signal that ended it.
  bool Reap();
  // Signals the whole group while the child has not been reaped (never a reused pid).
  void SignalGroup(int signal);

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  int Status() const { return status_; }
  // The CPU time (user and system) of the reaped child and the children it reaped.
  double CpuSeconds() const { return cpuSeconds_; }
  int OutFd() const { return out_.Get(); }
  int ErrFd() const { return err_.Get(); }
  void CloseOut() { out_.Reset(); }
  void CloseErr() { err_.Reset(); }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  double cpuSeconds_ = 0;
  platform::UniqueFd out_;
  platform::UniqueFd err_;
};

double CpuSeconds(const rusage& usage);

// Reads what a pipe holds without blocking: appends it to `into` and tells whether the pipe
// is still open (false at its end or on an error other than EAGAIN/EINTR).
bool ReadAvailable(int fd, std::string& into);

}  // namespace gpsfw::station
