#include "sim/virtual_transport.h"

#include "platform/low_latency.h"

#include <algorithm>

#include "platform/line_speeds.h"

namespace gpsfw::sim {
namespace {

// A tty's receive buffer: older bytes beyond this are lost when nobody reads.
constexpr size_t kReceiveBufferBytes = 4095;
constexpr SimTime kReadGapNs = 1 * kNsPerMs;
constexpr SimTime kReadFirstByteNs = 1 * kNsPerMs;
constexpr SimTime kReadPerByteNs = 1 * kNsPerMs;
// Bounds the first-byte wait of a huge read, as the termios driver does.
constexpr size_t kMaxTimedReadBytes = 60000;
// The latency timer the ftdi_sio driver sets for a port that asks for low latency.
constexpr SimTime kLowLatencyNs = 1 * kNsPerMs;

}  // namespace

VirtualTransport::VirtualTransport(Receiver& receiver, VirtualTransportOptions options)
    : line_(receiver, options.logWire), options_(options) {
  adapter_.SetLatency(ConfiguredLatencyNs());
  for (const UnplugFault& unplug : receiver.Config().faults.unplugs) {
    Unplug(MsToNs(unplug.afterMs), MsToNs(unplug.forMs), unplug.powerCycle);
  }
}

void VirtualTransport::Unplug(SimTime atNs, SimTime forNs, bool powerCycle) {
  const SimTime at = std::max(atNs, line_.Now());
  transitions_.emplace(at, Transition{true, powerCycle});
  transitions_.emplace(at + forNs, Transition{false, powerCycle});
}

SimTime VirtualTransport::NextTransitionNs() const {
  return transitions_.empty() ? kNever : transitions_.begin()->first;
}

void VirtualTransport::Apply(const Transition& transition) {
  if (transition.vanishes) {
    gone_ = true;
    if (open_) lost_ = true;
    received_.clear();
    adapter_.Clear();
    line_.DropInFlight();
    if (transition.powerCycle) GetReceiver().PowerOff();
  } else {
    gone_ = false;
    if (transition.powerCycle) GetReceiver().PowerOn();
  }
}

int VirtualTransport::Open(const char* device) {
  if (open_) return -1;
  Advance(line_.Now());
  if (gone_) return -1;
  open_ = true;
  lost_ = false;
  device_ = device != nullptr ? device : "";
  received_.clear();
  adapter_.Clear();
  adapter_.SetLatency(ConfiguredLatencyNs());
  framingErrorSeen_ = false;
  AskForLowLatency();
  return kHandle;
}

// Without an adapter there is no timer to lower, as on a pty or a UART.
void VirtualTransport::AskForLowLatency() {
  lowLatency_ = platform::LowLatency::kNotAsked;
  if (!platform::LowLatencyWanted() || ConfiguredLatencyNs() == 0) return;
  if (RequestLowLatency(kHandle)) lowLatency_ = platform::LowLatency::kOn;
}

platform::LowLatency VirtualTransport::LowLatencyOf(int handle) {
  return Valid(handle) ? lowLatency_ : platform::LowLatency::kNotAsked;
}

void VirtualTransport::Close(int handle) {
  if (!Valid(handle)) return;
  Advance(line_.Now());
  open_ = false;
  lost_ = false;
  received_.clear();
  adapter_.Clear();
}

bool VirtualTransport::RequestLowLatency(int handle) {
  if (!Valid(handle)) return false;
  Advance(line_.Now());
  adapter_.SetLatency(std::min(ConfiguredLatencyNs(), kLowLatencyNs));
  return true;
}

void VirtualTransport::ReleaseLowLatency(int handle) {
  if (!Valid(handle)) return;
  Advance(line_.Now());
  adapter_.SetLatency(ConfiguredLatencyNs());
}

bool VirtualTransport::Lost(int handle) {
  if (!Valid(handle)) return false;
  Advance(line_.Now());
  return lost_;
}

bool VirtualTransport::Reopen(int handle) {
  if (!Valid(handle)) return false;
  Advance(line_.Now());
  if (gone_) return false;
  if (lost_) {
    lost_ = false;
    received_.clear();
    adapter_.Clear();
    framingErrorSeen_ = false;
    AskForLowLatency();
  }
  return true;
}

bool VirtualTransport::Configure(int handle, uint32_t baud) {
  if (!Usable(handle)) return false;
  // Rates a tty accepts; others are refused like an unsupported speed.
  if (!platform::IsLineSpeed(baud)) {
    return false;
  }
  // Bytes that arrived up to now were taken at the old rate.
  Advance(line_.Now());
  baud_ = baud;
  return true;
}

void VirtualTransport::Advance(SimTime t) {
  while (NextTransitionNs() <= t) {
    const auto next = transitions_.begin();
    const SimTime at = std::max(next->first, line_.Now());
    const Transition transition = next->second;
    transitions_.erase(next);
    AdvanceLine(at);
    Apply(transition);
  }
  AdvanceLine(t);
}

void VirtualTransport::AdvanceLine(SimTime t) {
  scratch_.clear();
  line_.AdvanceTo(t, open_ && !lost_ ? baud_ : 0, scratch_);
  released_.clear();
  for (const HostByte& byte : scratch_) adapter_.Take(byte, released_);
  adapter_.Release(t, released_);
  for (const HostByte& byte : released_) Receive(byte);
}

void VirtualTransport::Receive(const HostByte& byte) {
  if (byte.framingError) framingErrorSeen_ = true;
  received_.push_back(byte);
  while (received_.size() > kReceiveBufferBytes) received_.pop_front();
}

bool VirtualTransport::Step(SimTime deadline) {
  const SimTime next =
      std::min({line_.NextEventNs(), NextTransitionNs(), adapter_.NextReleaseNs()});
  if (next > deadline) {
    Advance(deadline);
    return false;
  }
  Advance(std::max(next, line_.Now()));
  return true;
}

bool VirtualTransport::WaitForByte(SimTime deadline) {
  while (received_.empty()) {
    if (lost_) return false;
    if (!Step(deadline)) return !received_.empty();
  }
  return true;
}

void VirtualTransport::RunUntil(SimTime t) {
  while (Step(t)) {
  }
}

long VirtualTransport::Read(int handle, uint8_t* buffer, size_t size) {
  if (!Usable(handle)) return -1;
  if (size == 0) return 0;
  Advance(line_.Now());
  const size_t timed = std::min(size, kMaxTimedReadBytes);
  if (!WaitForByte(line_.Now() + kReadFirstByteNs + kReadPerByteNs * timed)) return lost_ ? -1 : 0;
  size_t got = 0;
  for (;;) {
    while (got < size && !received_.empty()) {
      buffer[got++] = received_.front().value;
      received_.pop_front();
    }
    if (got == size || !WaitForByte(line_.Now() + kReadGapNs)) break;
  }
  return static_cast<long>(got);
}

long VirtualTransport::Write(int handle, const uint8_t* data, size_t size) {
  if (!Usable(handle)) return -1;
  Advance(line_.Now());
  if (lost_) return -1;
  for (size_t i = 0; i < size; ++i) line_.HostSend(data[i], baud_, line_.Now());
  return static_cast<long>(size);
}

platform::WaitResult VirtualTransport::WaitReadable(int handle, uint32_t ms) {
  if (!Usable(handle)) return platform::WaitResult::kHungUp;
  Advance(line_.Now());
  if (WaitForByte(line_.Now() + MsToNs(ms))) return platform::WaitResult::kReadable;
  return lost_ ? platform::WaitResult::kHungUp : platform::WaitResult::kTimeout;
}

void VirtualTransport::PurgeReceive(int handle) {
  if (!Valid(handle)) return;
  Advance(line_.Now());
  received_.clear();
}

void VirtualTransport::Drain(int handle) {
  if (!Usable(handle)) return;
  const SimTime idle = std::max(line_.Now(), line_.HostIdleAt());
  while (!lost_ && Step(idle)) {
  }
}

bool VirtualTransport::TakeLineErrors(int handle, uint32_t* flags) {
  if (!Usable(handle)) return false;
  Advance(line_.Now());
  if (lost_) return false;
  *flags = options_.reportFramingErrors && framingErrorSeen_ ? platform::kCeFrame : 0;
  framingErrorSeen_ = false;
  return true;
}

void VirtualTransport::SleepMs(uint32_t ms) {
  RunUntil(line_.Now() + MsToNs(ms));
}

ScopedVirtualTransport::ScopedVirtualTransport(VirtualTransport& transport) {
  platform::InstallSerialDriver(&transport);
  platform::InstallClock(&transport);
}

ScopedVirtualTransport::~ScopedVirtualTransport() {
  platform::InstallSerialDriver(nullptr);
  platform::InstallClock(nullptr);
}

}  // namespace gpsfw::sim
