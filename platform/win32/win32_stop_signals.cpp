#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "platform/stop_signals.h"

// Windows has no SIGTERM or SIGHUP for a console program: Ctrl+C, Ctrl+Break and the closing
// of its console arrive as control events, on a thread of their own. The handler notes the
// event as the signal it stands for; the loader's thread finds it at its next wait (the
// clock sleeps in slices) and runs the stop routine there, as on POSIX.

namespace gpsfw::platform {
namespace {

constexpr int kSignalStatusBase = 128;
constexpr int kHangUp = 1;  // SIGHUP's number, for the console closing
// Windows ends the process once the handler returns from a close event, and at the latest
// after about 5 s: this long the loader's thread gets to close the port and the log.
constexpr DWORD kCloseGraceMs = 3000;

volatile LONG g_signal = 0;
bool g_installed = false;
StopRoutine g_routine = nullptr;
bool g_routineRunning = false;

int SignalFor(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGTERM;
    default:
      return kHangUp;
  }
}

BOOL WINAPI OnControl(DWORD event) {
  ::InterlockedCompareExchange(&g_signal, SignalFor(event), 0);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) ::Sleep(kCloseGraceMs);
  return TRUE;
}

}  // namespace

bool InstallStopHandlers() {
  if (g_installed) return true;
  g_installed = ::SetConsoleCtrlHandler(OnControl, TRUE) != 0;
  return g_installed;
}

void RemoveStopHandlers() {
  if (g_installed) ::SetConsoleCtrlHandler(OnControl, FALSE);
  g_installed = false;
}

int StopSignal() {
  return static_cast<int>(g_signal);
}

void ClearStopSignal() {
  ::InterlockedExchange(&g_signal, 0);
}

void SetStopRoutine(StopRoutine routine) {
  g_routine = routine;
}

bool CheckStop() {
  const int signal = StopSignal();
  if (signal == 0) return false;
  if (g_routineRunning) return true;
  if (g_routine == nullptr) std::_Exit(kSignalStatusBase + signal);
  g_routineRunning = true;
  g_routine(signal);
  g_routineRunning = false;
  return true;
}

}  // namespace gpsfw::platform
