#include "sim/adapter_buffer.h"

namespace gpsfw::sim {

void AdapterBuffer::Take(const HostByte& byte, std::vector<HostByte>& released) {
  Release(byte.arrivalNs, released);
  if (held_.empty()) timerStartNs_ = byte.arrivalNs;
  held_.push_back(byte);
  if (latencyNs_ == 0 || held_.size() >= kPacketBytes) SendAll(byte.arrivalNs, released);
}

void AdapterBuffer::Release(SimTime t, std::vector<HostByte>& released) {
  const SimTime due = NextReleaseNs();
  if (due <= t) SendAll(due, released);
}

SimTime AdapterBuffer::NextReleaseNs() const {
  return held_.empty() ? kNever : timerStartNs_ + latencyNs_;
}

void AdapterBuffer::SendAll(SimTime at, std::vector<HostByte>& released) {
  for (HostByte byte : held_) {
    byte.arrivalNs = at;
    released.push_back(byte);
  }
  held_.clear();
}

}  // namespace gpsfw::sim
