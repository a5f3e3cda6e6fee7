#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gpsfw::test {

// A child process started from argv, with its standard output (and error) collected in a file.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
                        const std::string& stderrPath = "");
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits up to `seconds`; the exit status (0..255), 128 + signal, or -1 on time-out.
  int Wait(double seconds);
  void Kill();
  bool Running();
  // Sends `signal` to the child while it runs.
  void Signal(int signal);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string name_;  // the program's file name, for what a test waits for
};

// Runs argv to its end (at most `seconds`) and gives its exit status as ChildProcess::Wait.
int RunProcess(const std::vector<std::string>& argv, double seconds = 60);

// Waits up to `seconds` for `path` to exist (a symbolic link counts, whatever it points at);
// true once it does. The watchdog is told what the test waits for.
bool WaitForPath(const std::string& path, double seconds = 10);

// Path of a program built beside the tests.
std::string ProgramPath(const std::string& name);
// argv for a program built by this build but started from elsewhere (a copy, an installed
// one): in a cross build through the emulator.
std::vector<std::string> Started(const std::string& program,
                                 const std::vector<std::string>& arguments);

// A copy of the program `name` in `folder`, made as it is, which then runs from there (its
// own directory is `folder`); its path.
std::string CopyProgram(const std::string& name, const std::string& folder);
// CopyProgram for a program that a test runs as another user: the build folder may lie where
// only its owner can enter (a clone under /root), so the copy goes into `folder`, which must
// be reachable by every user. Empty, with the reason in `why`, when a folder on its path
// cannot be entered by others.
std::string CopyProgramForAnyUser(const std::string& name, const std::string& folder,
                                  std::string& why);

// The part of `text` from the last `marker` on; empty when there is none.
std::string FromLast(const std::string& text, const std::string& marker);
// The last `count` bytes of `text`, or all of it when it is shorter.
std::string LastBytes(const std::string& text, size_t count);

}  // namespace gpsfw::test
