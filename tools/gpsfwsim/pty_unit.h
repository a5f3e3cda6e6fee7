#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/adapter_buffer.h"
#include "sim/line.h"
#include "sim/receiver.h"
#include "sim/wire_log.h"
#include "tools/gpsfwsim/pty_link.h"

namespace gpsfw::simtool {

// A stretch of time in which the port was gone.
struct Outage {
  sim::SimTime goneNs = 0;
  sim::SimTime backNs = sim::kNever;  // kNever while it is still gone
  bool powerCycle = false;
};

// One receiver served on one pty in real time; simulated time is the server's time since it
// started. A byte the host writes is taken to start when it is read from the master (or
// behind the host's previous byte) and to take 10 bit times at the rate the host has set at
// that moment; the receiver's bytes are written to the master when their stop bit ends,
// garbled when the host listens at another rate, and held back as a USB-serial adapter with
// a latency timer of `adapterLatencyMs` holds them (0: none; a pty cannot carry the host's
// request for low latency, so the delay stays). The unplug faults of the receiver's
// configuration close the pty (the host's descriptor hangs up) and publish a new one at the
// same link when the port comes back.
class PtyUnit {
 public:
  using EventSink = std::function<void(const PtyUnit&, const sim::SimEvent&)>;

  // Throws std::runtime_error when the pty or the link cannot be made.
  PtyUnit(int index, const std::string& linkPath, const sim::ReceiverConfig& config,
          EventSink onEvent, uint32_t adapterLatencyMs = 0);
  ~PtyUnit();
  PtyUnit(const PtyUnit&) = delete;
  PtyUnit& operator=(const PtyUnit&) = delete;

  // Does everything that is due by `now`: the port going and coming back, the receiver's
  // own work, its bytes to the host, the wire log.
  void Service(sim::SimTime now);
  // When Service must run next if the host sends nothing; kNever when only the host can
  // wake the receiver.
  sim::SimTime NextWakeNs() const;
  // The master to wait on for the host's bytes; -1 while the port is gone or resting.
  int PollFd(sim::SimTime now) const;
  void OnReady(sim::SimTime now, short revents);
  // An update has completed and the host has let go of the port: closed its last descriptor
  // (however it ended), or (a host that does not hold it exclusively) read everything or had
  // a while to do so. Only for a server that ends then: once the update has completed, the
  // unit gives up its own hold on the slave, so that the host's last close shows.
  bool Done(sim::SimTime now);

  int Index() const { return index_; }
  const std::string& LinkPath() const { return linkPath_; }
  // What the host opens, and the pty behind it now ("" while the port is gone).
  std::string PortPath() const;
  std::string SlavePath() const;
  sim::Receiver& GetReceiver() { return receiver_; }
  const sim::Receiver& GetReceiver() const { return receiver_; }
  const std::vector<sim::WireRun>& Runs() const { return runs_; }
  uint64_t RunsDropped() const { return runsDropped_; }
  const std::vector<Outage>& Outages() const { return outages_; }

 private:
  void Advance(sim::SimTime t);
  void Unplug(const sim::UnplugFault& fault, sim::SimTime at);
  void PlugIn(const sim::UnplugFault& fault, sim::SimTime at);
  void ReadHost(sim::SimTime now);
  void WriteToHost(const std::vector<sim::HostByte>& bytes);
  void LogWire(sim::SimTime now);
  sim::SimTime NextTransitionNs() const;

  int index_;
  std::string linkPath_;
  sim::Receiver receiver_;
  sim::Line line_;
  EventSink onEvent_;
  std::unique_ptr<PtyLink> link_;
  std::vector<sim::UnplugFault> unplugs_;  // in time order
  size_t nextUnplug_ = 0;
  bool gone_ = false;
  std::vector<Outage> outages_;
  sim::SimTime restUntil_ = 0;  // a master that reports trouble is left alone for a moment
  std::vector<sim::HostByte> toHost_;
  sim::AdapterBuffer adapter_;
  std::vector<sim::HostByte> released_;
  std::vector<sim::WireEvent> pendingWire_;
  std::vector<sim::WireRun> runs_;
  uint64_t runsDropped_ = 0;
  size_t eventsSeen_ = 0;
};

}  // namespace gpsfw::simtool
