#include "sim/tx_queue.h"

#include <algorithm>

namespace gpsfw::sim {

void TxQueue::Send(const uint8_t* bytes, size_t count, uint32_t baud, SimTime notBefore) {
  for (size_t i = 0; i < count; ++i) {
    TxByte out;
    out.byte = bytes[i];
    out.baud = baud;
    out.startNs = std::max(notBefore, busyUntil_);
    out.endNs = out.startNs + ByteTimeNs(baud);
    busyUntil_ = out.endNs;
    bytes_.push_back(out);
  }
}

bool TxQueue::Take(SimTime now, TxByte& out) {
  if (bytes_.empty() || bytes_.front().endNs > now) return false;
  out = bytes_.front();
  bytes_.pop_front();
  return true;
}

SimTime TxQueue::IdleAt(SimTime now) const {
  return std::max(now, busyUntil_);
}

void TxQueue::CutOff(SimTime now) {
  while (!bytes_.empty() && bytes_.back().endNs > now) bytes_.pop_back();
  busyUntil_ = std::min(busyUntil_, now);
}

}  // namespace gpsfw::sim
