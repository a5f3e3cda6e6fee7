#include <signal.h>

#include <emscripten.h>

#include "platform/stop_signals.h"

// A page has no signals: its Cancel button (Module.line.cancelled, web/serial_line.js) stops
// the run as an interrupt from the keyboard stops the loader elsewhere, through the same stop
// routine, so that the port is closed and the log ends as it would there.
// clang-format off
EM_JS(int, web_cancelled, (), { return Module.line && Module.line.cancelled ? 1 : 0; });
// clang-format on

namespace gpsfw::platform {
namespace {

int g_signal = 0;
StopRoutine g_routine = nullptr;
bool g_routineRunning = false;

}  // namespace

bool InstallStopHandlers() {
  return true;
}

void RemoveStopHandlers() {}

int StopSignal() {
  if (g_signal == 0 && web_cancelled() != 0) g_signal = SIGINT;
  return g_signal;
}

void ClearStopSignal() {
  g_signal = 0;
}

void SetStopRoutine(StopRoutine routine) {
  g_routine = routine;
}

bool CheckStop() {
  const int signal = StopSignal();
  if (signal == 0) return false;
  if (g_routineRunning || g_routine == nullptr) return true;
  g_routineRunning = true;
  g_routine(signal);
  g_routineRunning = false;
  return true;
}

}  // namespace gpsfw::platform
