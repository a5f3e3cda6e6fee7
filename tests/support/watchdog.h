#pragma once

#include <sys/types.h>

#include <string>

namespace gpsfw::test {

// Every test program on a POSIX host carries a watchdog, an alarm armed for each test: a test
// that runs for longer than any test may (GPSFW_TEST_BOUND_S seconds, 200 by default, below
// ctest's own time-out) ends the whole program with a message that names the test and what it
// was waiting for, after the child processes it started have been killed. A test that hangs
// thus fails in bounded time and says why, instead of running into ctest's time-out with
// nothing printed.

// Says what the running test waits for from now on.
void Awaiting(const std::string& what);

// Child processes the watchdog kills before it ends an overrunning program.
void WatchChild(pid_t pid);
void UnwatchChild(pid_t pid);

}  // namespace gpsfw::test
