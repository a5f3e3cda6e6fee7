#pragma once

namespace gpsfw::platform {

// SIGINT, SIGTERM and SIGHUP stop the loader. Their handler only notes the signal; it is
// installed without SA_RESTART, so a blocking call returns EINTR at once. Every wait in
// platform/ (the clock's sleeps, the polls of the serial driver) checks for a noted signal
// before and after it waits and then runs the stop routine, which the run sequence
// registers: it closes the port and the log through their normal paths and ends the
// process. So the loader stops within one short wait wherever it is, without unwinding.
using StopRoutine = void (*)(int signal);

// False when the system refused a handler.
bool InstallStopHandlers();
// Brings back the handlers that were in place before InstallStopHandlers.
void RemoveStopHandlers();

// The first stop signal noted, 0 for none.
int StopSignal();
// Forgets a noted signal (for tests).
void ClearStopSignal();

// The routine CheckStop runs; nullptr for none, and then a noted signal ends the process
// as the signal itself would have.
void SetStopRoutine(StopRoutine routine);

// Runs the stop routine when a signal is noted. While it runs, further checks do nothing
// and waits end at once, so that closing the port cannot hold the stop up. True when a
// signal is noted (the routine returned, or it is running): the caller's wait ends early.
bool CheckStop();

}  // namespace gpsfw::platform
