#include "tools/gpsfwsim/pty_server.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace gpsfw::simtool {
namespace {

using sim::SimTime;

// How often a completed update looks whether its host has let go of the port.
constexpr SimTime kLetGoCheckNs = 50 * sim::kNsPerMs;

volatile std::sig_atomic_t g_stop = 0;
// The signal mask the process had: the stop signals are blocked except inside the wait, so
// that one arriving between the look at the flag and the wait cannot be missed.
sigset_t g_waitMask;

void OnStop(int) {
  g_stop = 1;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaction(signal, &action, nullptr);
    sigaddset(&stops, signal);
  }
  ::sigprocmask(SIG_BLOCK, &stops, &g_waitMask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&g_waitMask, signal);
  ::signal(SIGPIPE, SIG_IGN);
}

PtyServer::PtyServer(std::vector<std::unique_ptr<PtyUnit>>& units)
    : units_(units), start_(std::chrono::steady_clock::now()) {}

SimTime PtyServer::Now() const {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<SimTime>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

bool PtyServer::AnyCompleted() const {
  return std::any_of(units_.begin(), units_.end(),
                     [](const auto& u) { return u->GetReceiver().Live().updateCompleted; });
}

bool PtyServer::AllDone(SimTime now) const {
  return std::all_of(units_.begin(), units_.end(), [now](const auto& u) { return u->Done(now); });
}

ServeEnd PtyServer::Run(const ServeOptions& options) {
  const SimTime limit = options.timeLimitSeconds > 0
                            ? static_cast<SimTime>(options.timeLimitSeconds * sim::kNsPerSecond)
                            : sim::kNever;
  for (;;) {
    const SimTime now = Now();
    SimTime next = limit;
    for (auto& unit : units_) {
      unit->Service(now);
      next = std::min(next, unit->NextWakeNs());
    }
    if (g_stop != 0) return ServeEnd::kSignal;
    if (now >= limit) return ServeEnd::kTimeLimit;
    if (options.once && AllDone(now)) return ServeEnd::kCompleted;
    // The host closing its port wakes nobody: a completed update looks at it now and then.
    if (options.once && AnyCompleted()) next = std::min(next, now + kLetGoCheckNs);
    Wait(next);
  }
}

void PtyServer::Wait(SimTime until) {
  std::vector<pollfd> fds;
  std::vector<PtyUnit*> owners;
  const SimTime now = Now();
  const SimTime wake = until;
  for (auto& unit : units_) {
    const int fd = unit->PollFd(now);
    if (fd < 0) continue;
    fds.push_back(pollfd{fd, POLLIN, 0});
    owners.push_back(unit.get());
  }
  const SimTime wait = wake <= now ? 0 : wake - now;
  timespec timeout{static_cast<time_t>(wait / sim::kNsPerSecond),
                   static_cast<long>(wait % sim::kNsPerSecond)};
  const int ready =
      ::ppoll(fds.data(), fds.size(), wake == sim::kNever ? nullptr : &timeout, &g_waitMask);
  if (ready <= 0) return;
  const SimTime readyAt = Now();
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) owners[i]->OnReady(readyAt, fds[i].revents);
  }
}

}  // namespace gpsfw::simtool
