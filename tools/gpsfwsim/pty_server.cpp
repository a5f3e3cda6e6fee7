#include "tools/gpsfwsim/pty_server.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace gpsfw::simtool {
namespace {

using sim::SimTime;

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) {
  g_stop = 1;
}

// Bytes closer together than this belong to one run of the report.
constexpr SimTime kRunGapNs = 2 * sim::kNsPerMs;
// The longest sleep between two looks at the signals and the clock.
constexpr SimTime kLongestWaitNs = 20 * sim::kNsPerMs;
// With no slave open the master reports a hang-up at once; this keeps the loop from spinning.
constexpr useconds_t kHungUpPauseUs = 10000;
// How long a completed update waits for the host to read the last answer and let go.
constexpr SimTime kCompletionGraceNs = 2 * sim::kNsPerSecond;
constexpr size_t kReadChunk = 4096;

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

PtyServer::PtyServer(PtyLink& link, sim::Receiver& receiver)
    : link_(link), line_(receiver), start_(std::chrono::steady_clock::now()) {}

SimTime PtyServer::Now() const {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<SimTime>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

ServeEnd PtyServer::Run(const ServeOptions& options) {
  const SimTime limit = options.timeLimitSeconds > 0
                            ? static_cast<SimTime>(options.timeLimitSeconds * sim::kNsPerSecond)
                            : sim::kNever;
  for (;;) {
    Advance(options);
    if (g_stop != 0) return ServeEnd::kSignal;
    if (Now() >= limit) return ServeEnd::kTimeLimit;
    const sim::SimResult& live = line_.GetReceiver().Live();
    if (options.once && live.updateCompleted && CompletionDelivered(live.completedNs)) {
      return ServeEnd::kCompleted;
    }
    const SimTime next = line_.NextEventNs();
    const SimTime now = Now();
    const SimTime wait = next <= now ? 0 : std::min(next - now, kLongestWaitNs);
    timespec timeout{static_cast<time_t>(wait / sim::kNsPerSecond),
                     static_cast<long>(wait % sim::kNsPerSecond)};
    pollfd master{link_.Master(), POLLIN, 0};
    const int ready = ::ppoll(&master, 1, &timeout, nullptr);
    if (ready <= 0) continue;
    if ((master.revents & POLLIN) != 0) {
      ReadHost();
    } else {
      ::usleep(kHungUpPauseUs);
    }
  }
}

void PtyServer::ReadHost() {
  uint8_t buffer[kReadChunk];
  const ssize_t n = ::read(link_.Master(), buffer, sizeof buffer);
  if (n < 0 && errno == EIO) ::usleep(kHungUpPauseUs);
  if (n <= 0) return;
  // The rate the host has set now is the rate these bytes were written at: it changes its
  // rate only 10 ms after a write, and the master is read at once.
  const uint32_t baud = link_.HostSendBaud();
  const SimTime at = Now();
  for (ssize_t i = 0; i < n; ++i) line_.HostSend(buffer[i], baud, at);
}

void PtyServer::Advance(const ServeOptions& options) {
  toHost_.clear();
  line_.AdvanceTo(std::max(Now(), line_.Now()), link_.HostReceiveBaud(), toHost_);
  WriteToHost(toHost_);
  for (const sim::WireEvent& event : line_.TakeWire()) sim::AddToRuns(runs_, event, kRunGapNs);
  const std::vector<sim::SimEvent>& events = line_.GetReceiver().Live().events;
  for (; eventsSeen_ < events.size(); ++eventsSeen_) {
    if (options.onEvent) options.onEvent(events[eventsSeen_]);
  }
}

void PtyServer::WriteToHost(const std::vector<sim::HostByte>& bytes) {
  if (bytes.empty()) return;
  std::vector<uint8_t> data;
  data.reserve(bytes.size());
  for (const sim::HostByte& byte : bytes) data.push_back(byte.value);
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(link_.Master(), data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the host's buffer is full or nobody listens: the bytes are lost, as on a UART
    }
  }
}

bool PtyServer::CompletionDelivered(SimTime completedAt) {
  const SimTime now = Now();
  if (completionSeenAt_ == sim::kNever) completionSeenAt_ = now;
  if (now - completionSeenAt_ >= kCompletionGraceNs) return true;
  // The host has read the last verdict and closed the port.
  return line_.Now() >= completedAt && link_.HostUnread() == 0 && !link_.HostExclusive();
}

}  // namespace gpsfw::simtool
