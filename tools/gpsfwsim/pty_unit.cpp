#include "tools/gpsfwsim/pty_unit.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

namespace gpsfw::simtool {
namespace {

using sim::SimTime;

// Bytes closer together than this belong to one run of the report.
constexpr SimTime kRunGapNs = 2 * sim::kNsPerMs;
// The report shows this many bytes of each run and at most this many runs, the latest.
constexpr size_t kRunBytesKept = 32;
constexpr size_t kRunsKept = 20000;
// A master that hangs up or fails is left alone this long, so the loop cannot spin on it.
constexpr SimTime kRestNs = 10 * sim::kNsPerMs;
constexpr size_t kReadChunk = 4096;

}  // namespace

PtyUnit::PtyUnit(int index, const std::string& linkPath, const sim::ReceiverConfig& config,
                 EventSink onEvent, uint32_t adapterLatencyMs)
    : index_(index),
      linkPath_(linkPath),
      receiver_(config),
      line_(receiver_),
      onEvent_(std::move(onEvent)),
      link_(new PtyLink(linkPath)),
      unplugs_(config.faults.unplugs) {
  std::sort(unplugs_.begin(), unplugs_.end(),
            [](const auto& a, const auto& b) { return a.afterMs < b.afterMs; });
  adapter_.SetLatency(sim::MsToNs(adapterLatencyMs));
}

PtyUnit::~PtyUnit() = default;

std::string PtyUnit::PortPath() const {
  if (!linkPath_.empty()) return linkPath_;
  return link_ ? link_->SlavePath() : "";
}

std::string PtyUnit::SlavePath() const {
  return link_ ? link_->SlavePath() : "";
}

SimTime PtyUnit::NextTransitionNs() const {
  if (nextUnplug_ == unplugs_.size()) return sim::kNever;
  const sim::UnplugFault& next = unplugs_[nextUnplug_];
  return sim::MsToNs(uint64_t{next.afterMs} + (gone_ ? next.forMs : 0));
}

void PtyUnit::Service(SimTime now) {
  for (SimTime at = NextTransitionNs(); at <= now; at = NextTransitionNs()) {
    Advance(std::max(at, line_.Now()));
    const sim::UnplugFault& fault = unplugs_[nextUnplug_];
    if (gone_) {
      PlugIn(fault, at);
      ++nextUnplug_;
    } else {
      Unplug(fault, at);
    }
  }
  Advance(std::max(now, line_.Now()));
  LogWire(now);
  const std::vector<sim::SimEvent>& events = receiver_.Live().events;
  for (; eventsSeen_ < events.size(); ++eventsSeen_) {
    if (onEvent_) onEvent_(*this, events[eventsSeen_]);
  }
}

void PtyUnit::Advance(SimTime t) {
  // No byte the host has yet to write can reach the receiver before those it has written
  // have: the receiver runs ahead to their end, so that it answers a whole frame in one
  // go rather than waking for each byte. Never past the port's next unplug or return.
  const SimTime ahead = std::min(std::max(t, line_.HostIdleAt()), NextTransitionNs());
  line_.RunReceiverTo(std::max({ahead, t, line_.Now()}));
  toHost_.clear();
  line_.DeliverToHost(t, link_ ? link_->HostReceiveBaud() : 0, toHost_);
  released_.clear();
  for (const sim::HostByte& byte : toHost_) adapter_.Take(byte, released_);
  adapter_.Release(t, released_);
  WriteToHost(released_);
}

void PtyUnit::Unplug(const sim::UnplugFault& fault, SimTime at) {
  // The pty's master closes: the host's descriptor hangs up, as when a USB adapter is pulled.
  link_.reset();
  gone_ = true;
  line_.DropInFlight();
  adapter_.Clear();
  if (fault.powerCycle) receiver_.PowerOff();
  outages_.push_back(Outage{at, sim::kNever, fault.powerCycle});
  std::cout << "gpsfwsim: " << PortPath() << " unplugged for " << fault.forMs << " ms" << std::endl;
}

void PtyUnit::PlugIn(const sim::UnplugFault& fault, SimTime at) {
  link_.reset(new PtyLink(linkPath_));
  gone_ = false;
  if (fault.powerCycle) receiver_.PowerOn();
  outages_.back().backNs = at;
  std::cout << "gpsfwsim: serving on " << PortPath() << " (" << SlavePath() << ")" << std::endl;
}

SimTime PtyUnit::NextWakeNs() const {
  const SimTime next =
      std::min({line_.NextDeliveryNs(), NextTransitionNs(), adapter_.NextReleaseNs()});
  return restUntil_ > line_.Now() ? std::min(next, restUntil_) : next;
}

int PtyUnit::PollFd(SimTime now) const {
  return link_ && now >= restUntil_ ? link_->Master() : -1;
}

void PtyUnit::OnReady(SimTime now, short revents) {
  if ((revents & POLLIN) != 0) {
    ReadHost(now);
  } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    restUntil_ = now + kRestNs;
  }
}

void PtyUnit::ReadHost(SimTime now) {
  uint8_t buffer[kReadChunk];
  const ssize_t n = ::read(link_->Master(), buffer, sizeof buffer);
  if (n < 0 && errno != EAGAIN && errno != EINTR) restUntil_ = now + kRestNs;
  if (n <= 0) return;
  // The rate the host has set now is the rate these bytes were written at: it changes its
  // rate only 10 ms after a write, and the master is read at once.
  const uint32_t baud = link_->HostSendBaud();
  for (ssize_t i = 0; i < n; ++i) line_.HostSend(buffer[i], baud, now);
}

void PtyUnit::WriteToHost(const std::vector<sim::HostByte>& bytes) {
  if (bytes.empty() || !link_) return;
  uint8_t data[kReadChunk];
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t count = std::min(bytes.size() - done, sizeof data);
    for (size_t i = 0; i < count; ++i) data[i] = bytes[done + i].value;
    const ssize_t n = ::write(link_->Master(), data, count);
    if (n < 0 && errno == EINTR) continue;
    // The host's buffer is full or nobody listens: the bytes are lost, as on a UART.
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void PtyUnit::LogWire(SimTime now) {
  std::vector<sim::WireEvent> taken = line_.TakeWire();
  pendingWire_.insert(pendingWire_.end(), taken.begin(), taken.end());
  // Host bytes may be logged ahead of the receiver's answers to earlier ones; the runs are
  // made in the order the bytes ended.
  std::stable_sort(pendingWire_.begin(), pendingWire_.end(),
                   [](const auto& a, const auto& b) { return a.endNs < b.endNs; });
  size_t done = 0;
  while (done < pendingWire_.size() && pendingWire_[done].endNs <= now) {
    sim::AddToRuns(runs_, pendingWire_[done++], kRunGapNs, kRunBytesKept);
  }
  pendingWire_.erase(pendingWire_.begin(), pendingWire_.begin() + static_cast<long>(done));
  if (runs_.size() >= 2 * kRunsKept) {
    runsDropped_ += runs_.size() - kRunsKept;
    runs_.erase(runs_.begin(), runs_.end() - static_cast<long>(kRunsKept));
  }
}

bool PtyUnit::Done(SimTime now) {
  const sim::SimResult& live = receiver_.Live();
  if (!live.updateCompleted || now < live.completedNs || !link_) return false;
  // Only the host's last close says it is done with the port. Neither the exclusive flag
  // (which a killed host leaves set, and which qemu's user emulation cannot read) nor an
  // empty input queue (the pty moves the last verdict into it a moment after the simulator
  // wrote it, and a slow host reads it later still) can tell: ending on either hung up the
  // port under a host still waiting for its verdict.
  link_->ReleaseSlave();
  return link_->HostGone();
}

}  // namespace gpsfw::simtool
