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

bool PtyServer::AllDone(SimTime now) {
  return std::all_of(units_.begin(), units_.end(), [now](const auto& u) { return u->Done(now); });
}

ServeEnd PtyServer::Run(const ServeOptions& options) {
  const SimTime limit = options.timeLimitSeconds > 0
                            ? static_cast<SimTime>(options.timeLimitSeconds * sim::kNsPerSecond)
                            : sim::kNever;
  due_.assign(units_.size(), true);
  for (;;) {
    const SimTime now = Now();
    SimTime next = limit;
    for (size_t k = 0; k < units_.size(); ++k) {
      // Only the receivers whose host wrote or whose own time has come.
      if (due_[k] || units_[k]->NextWakeNs() <= now) units_[k]->Service(now);
      due_[k] = false;
      next = std::min(next, units_[k]->NextWakeNs());
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
  std::vector<size_t> owners;
  const SimTime now = Now();
  const SimTime wake = until;
  for (size_t k = 0; k < units_.size(); ++k) {
    const int fd = units_[k]->PollFd(now);
    if (fd < 0) continue;
    fds.push_back(pollfd{fd, POLLIN, 0});
    owners.push_back(k);
  }
  const SimTime wait = wake <= now ? 0 : wake - now;
  timespec timeout{static_cast<time_t>(wait / sim::kNsPerSecond),
                   static_cast<long>(wait % sim::kNsPerSecond)};
  const int ready =
      ::ppoll(fds.data(), fds.size(), wake == sim::kNever ? nullptr : &timeout, &g_waitMask);
  if (ready <= 0) return;
  const SimTime readyAt = Now();
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    units_[owners[i]]->OnReady(readyAt, fds[i].revents);
    due_[owners[i]] = true;
  }
}

}  // namespace gpsfw::simtool
