#pragma once

#include <cstddef>
#include <vector>

#include "sim/line.h"
#include "sim/sim_time.h"

namespace gpsfw::sim {

// The receive side of a USB-serial adapter of the common FTDI kind: the chip holds the bytes
// its UART took and sends them to the host in one USB packet when 62 are waiting, or when
// its latency timer, started as a byte arrives in the empty buffer, runs out (16 ms unless
// the driver asks for less). A request/response protocol waits that long for every answer.
// With a latency of 0 there is no adapter: bytes pass at once.
class AdapterBuffer {
 public:
  // What one USB packet carries besides the chip's two status bytes.
  static constexpr size_t kPacketBytes = 62;

  void SetLatency(SimTime latencyNs) { latencyNs_ = latencyNs; }
  SimTime Latency() const { return latencyNs_; }
  // A byte the adapter's UART took at its arrivalNs (not before those taken earlier); what
  // the chip sends on by then goes to `released`, stamped with the moment it is sent.
  void Take(const HostByte& byte, std::vector<HostByte>& released);
  // Sends on what is due by `t`.
  void Release(SimTime t, std::vector<HostByte>& released);
  // When the latency timer runs out; kNever when nothing is held.
  SimTime NextReleaseNs() const;
  // The adapter's buffer is lost (the port closed or gone).
  void Clear() { held_.clear(); }

 private:
  void SendAll(SimTime at, std::vector<HostByte>& released);

  std::vector<HostByte> held_;
  SimTime timerStartNs_ = 0;
  SimTime latencyNs_ = 0;
};

}  // namespace gpsfw::sim
