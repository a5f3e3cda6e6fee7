// A USB-serial adapter's latency timer between the receiver and the host, in virtual time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/low_latency.h"
#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
#include "sim/adapter_buffer.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using platform::Serial;
using platform::WaitResult;

// The boot loader's first answer byte to `poll`: how long after it reached the adapter the
// host could read it.
SimTime HeldFor(SimHost& host, uint8_t poll) {
  const size_t before = host.transport.Wire().size();
  host.Send(poll);
  if (Serial().WaitReadable(host.link.port, 100) != WaitResult::kReadable) return kNever;
  const std::vector<WireEvent>& wire = host.transport.Wire();
  for (size_t i = before; i < wire.size(); ++i) {
    if (wire[i].direction == Direction::kTargetToHost) return host.Now() - wire[i].endNs;
  }
  return kNever;
}

// The loader's wish for low latency, process-wide as --no-low-latency sets it, for one scope.
class LowLatencyWish {
 public:
  explicit LowLatencyWish(bool wanted) { platform::SetLowLatencyWanted(wanted); }
  ~LowLatencyWish() { platform::SetLowLatencyWanted(true); }
};

struct Latency {
  const char* name;
  uint32_t configuredMs;
  bool lowLatency;  // the loader wants it, and asks the driver at every open
  bool release;     // the request is given up again
  bool reopen;      // a new open after the request
  SimTime heldNs;
};

TEST(AdapterLatency, ALoneByteWaitsForTheTimer) {
  const Latency cases[] = {
      {"no adapter", 0, false, false, false, 0},
      {"default timer, not asked", 16, false, false, false, MsToNs(16)},
      {"low latency asked at the open", 16, true, false, false, MsToNs(1)},
      {"given up again", 16, true, true, false, MsToNs(16)},
      {"a new open asks again", 16, true, false, true, MsToNs(1)},
      {"no adapter stays without delay", 0, true, false, false, 0},
  };
  for (const Latency& c : cases) {
    SCOPED_TRACE(c.name);
    const LowLatencyWish wish(c.lowLatency);
    VirtualTransportOptions options;
    options.adapterLatencyMs = c.configuredMs;
    SimHost host(ReceiverConfig(), options);
    host.Wake();
    const bool granted = c.lowLatency && c.configuredMs > 0;
    EXPECT_EQ(Serial().LowLatencyOf(host.link.port),
              granted ? platform::LowLatency::kOn : platform::LowLatency::kNotAsked);
    if (c.release) host.transport.ReleaseLowLatency(host.link.port);
    if (c.reopen) {
      ClosePort(host.link);
      OpenPort(host.link, platform::Serial(), L"sim", 19200);
    }
    EXPECT_EQ(HeldFor(host, REC_POLL_CODE), c.heldNs);
    uint8_t answer = 0;
    EXPECT_EQ(Serial().Read(host.link.port, &answer, 1), 1);
    EXPECT_EQ(answer, REC_POLL_CODE);
  }
}

// When each byte of the receiver's answers since wire event `from` reached the adapter.
std::vector<SimTime> Arrivals(const SimHost& host, size_t from) {
  std::vector<SimTime> arrivals;
  const std::vector<WireEvent>& wire = host.transport.Wire();
  for (size_t i = from; i < wire.size(); ++i) {
    if (wire[i].direction == Direction::kTargetToHost) arrivals.push_back(wire[i].endNs);
  }
  return arrivals;
}

TEST(AdapterLatency, SixtyTwoBytesGoAtOnceAndTheRestAfterTheTimer) {
  // 80 bytes at 115200: 62 of them arrive well within the timer.
  ReceiverConfig config;
  config.sfldVersion = "$VER SFLD " + std::string(68, 'x') + "\r\n";
  VirtualTransportOptions options;
  options.adapterLatencyMs = 16;
  const LowLatencyWish wish(false);
  SimHost host(config, options);
  host.ToFlashCommands();
  const size_t from = host.transport.Wire().size();
  host.Send(VER_QUERY_CODE);
  uint8_t buffer[128];
  // The first packet goes with the 62nd byte, without waiting for the timer.
  ASSERT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kReadable);
  EXPECT_EQ(host.Now(), Arrivals(host, from).at(AdapterBuffer::kPacketBytes - 1));
  EXPECT_EQ(Serial().Read(host.link.port, buffer, sizeof buffer),
            long(AdapterBuffer::kPacketBytes));
  // The other 18 wait for the timer that the first of them started.
  ASSERT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kReadable);
  EXPECT_EQ(host.Now(), Arrivals(host, from).at(AdapterBuffer::kPacketBytes) + MsToNs(16));
  EXPECT_EQ(Serial().Read(host.link.port, buffer, sizeof buffer), 18);
}

}  // namespace
}  // namespace gpsfw::sim::test
