#include "platform/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cstddef>

namespace gpsfw::platform {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];
// The exit status of a process ended by signal N, as shells report it.
constexpr int kSignalStatusBase = 128;

volatile sig_atomic_t g_signal = 0;
struct sigaction g_previous[kStopSignalCount];
bool g_installed = false;
StopRoutine g_routine = nullptr;
bool g_routineRunning = false;

void NoteSignal(int signal) {
  if (g_signal == 0) g_signal = signal;
}

// Without a routine to end the run, the signal does what it would have done by default.
[[noreturn]] void EndAsTheSignalWould(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  _exit(kSignalStatusBase + signal);
}

}  // namespace

bool InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  // No SA_RESTART: poll(), nanosleep() and tcdrain() return EINTR at once.
  action.sa_flags = 0;
  bool installed = true;
  for (size_t i = 0; i < kStopSignalCount; ++i) {
    struct sigaction previous {};
    if (sigaction(kStopSignals[i], nullptr, &previous) != 0) {
      installed = false;
      continue;
    }
    if (!g_installed) g_previous[i] = previous;
    // A loader started under nohup keeps ignoring the hang-up it was told to ignore.
    if (previous.sa_handler == SIG_IGN) continue;
    if (sigaction(kStopSignals[i], &action, nullptr) != 0) installed = false;
  }
  g_installed = true;
  return installed;
}

void RemoveStopHandlers() {
  if (!g_installed) return;
  for (size_t i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
  g_installed = false;
}

int StopSignal() {
  return g_signal;
}

void ClearStopSignal() {
  g_signal = 0;
}

void SetStopRoutine(StopRoutine routine) {
  g_routine = routine;
}

bool CheckStop() {
  const int signal = g_signal;
  if (signal == 0) return false;
  if (g_routineRunning) return true;
  if (g_routine == nullptr) EndAsTheSignalWould(signal);
  g_routineRunning = true;
  g_routine(signal);
  g_routineRunning = false;
  return true;
}

}  // namespace gpsfw::platform
