// The in-process transport behaves like the termios driver on a real line.
#include "sim/virtual_transport.h"

#include <gtest/gtest.h>

#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using platform::Serial;
using platform::WaitResult;

TEST(VirtualTransport, WritesTakeEverythingAndLeaveAtTheLineRate) {
  SimHost host;
  host.Baud(19200);
  const SimTime start = host.Now();
  const std::vector<uint8_t> bytes(10, 0x00);
  EXPECT_EQ(Serial().Write(host.link.port, bytes.data(), bytes.size()), 10);
  EXPECT_EQ(host.Now(), start);
  Serial().Drain(host.link.port);
  EXPECT_EQ(host.Now() - start, 10 * ByteTimeNs(19200));
  const WireEvent& last = host.transport.Wire().back();
  EXPECT_EQ(last.endNs, host.Now());
  EXPECT_EQ(last.endNs - last.startNs, ByteTimeNs(19200));
}

TEST(VirtualTransport, ReadsWaitForTheFirstByteAndEndAtAGap) {
  ReceiverConfig config;
  config.powerOnBaud = 4800;
  config.chatter = true;
  SimHost host(config);
  uint8_t buffer[255];
  // Nothing there: 1 ms plus 1 ms per requested byte.
  const SimTime start = host.Now();
  EXPECT_EQ(Serial().Read(host.link.port, buffer, 5), 0);
  EXPECT_EQ(host.Now() - start, MsToNs(6));
  // The application talks at 4800: its bytes are 2 ms apart, more than a read's gap.
  host.Baud(4800);
  ASSERT_EQ(Serial().WaitReadable(host.link.port, 1500), WaitResult::kReadable);
  EXPECT_EQ(Serial().Read(host.link.port, buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], '$');
  EXPECT_EQ(Serial().Read(host.link.port, buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], 'G');
}

TEST(VirtualTransport, AReadTakesAnAnswerThatComesAtAFasterRateWhole) {
  SimHost host;
  host.Wake();
  host.Send(SYNC_CODE);
  uint8_t buffer[255];
  ASSERT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kReadable);
  EXPECT_EQ(Serial().Read(host.link.port, buffer, sizeof buffer), 14);
}

TEST(VirtualTransport, WaitReadableStopsAtTheArrival) {
  SimHost host;
  host.Wake();
  host.Send(REC_POLL_CODE);
  const SimTime sent = host.Now();
  ASSERT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kReadable);
  const WireEvent& answer = host.transport.Wire().back();
  EXPECT_EQ(answer.direction, Direction::kTargetToHost);
  EXPECT_EQ(host.Now(), answer.endNs);
  EXPECT_LT(host.Now() - sent, MsToNs(2));
  EXPECT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kReadable);
  Serial().PurgeReceive(host.link.port);
  EXPECT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kTimeout);
}

TEST(VirtualTransport, OneHandleAtATimeUnderAnyName) {
  Receiver receiver;
  VirtualTransport transport(receiver);
  const int handle = transport.Open("/dev/anything");
  EXPECT_GE(handle, 0);
  EXPECT_EQ(transport.Open("/dev/other"), -1);
  EXPECT_EQ(transport.OpenedDevice(), "/dev/anything");
  transport.Close(handle);
  uint8_t byte = 0;
  EXPECT_EQ(transport.Read(handle, &byte, 1), -1);
  EXPECT_EQ(transport.WaitReadable(handle, 10), WaitResult::kHungUp);
  EXPECT_FALSE(transport.Configure(handle, 19200));
  EXPECT_GE(transport.Open("/dev/other"), 0);
}

TEST(VirtualTransport, RefusesRatesATtyDoesNotHave) {
  Receiver receiver;
  VirtualTransport transport(receiver);
  const int handle = transport.Open("x");
  EXPECT_FALSE(transport.Configure(handle, 14400));
  EXPECT_TRUE(transport.Configure(handle, 115200));
  EXPECT_EQ(transport.HostBaud(), 115200u);
}

TEST(VirtualTransport, ReportsFramingErrorsOnlyWhenAsked) {
  for (bool report : {false, true}) {
    VirtualTransportOptions options;
    options.reportFramingErrors = report;
    SimHost host(ReceiverConfig(), options);
    host.Wake();
    // The boot loader's 19200 answer reaches a host at 115200 with framing errors.
    host.Send(REC_POLL_CODE);
    platform::Serial().Configure(host.link.port, 115200);
    host.Collect(20);
    uint32_t flags = 0;
    EXPECT_TRUE(Serial().TakeLineErrors(host.link.port, &flags));
    EXPECT_EQ(flags, report ? platform::kCeFrame : 0u);
    EXPECT_TRUE(Serial().TakeLineErrors(host.link.port, &flags));
    EXPECT_EQ(flags, 0u);
  }
}

TEST(VirtualTransport, ADeviceThatVanishesFailsAtOnceUntilItIsBackAndReopened) {
  for (bool powerCycle : {false, true}) {
    SCOPED_TRACE(powerCycle);
    SimHost host;
    host.Wake();
    const SimTime gone = host.Now() + MsToNs(30);
    host.transport.Unplug(gone, MsToNs(5000), powerCycle);
    // A block under way when the device vanishes: what had not left yet is lost.
    const std::vector<uint8_t> polls(100, REC_POLL_CODE);
    EXPECT_EQ(Serial().Write(host.link.port, polls.data(), polls.size()), 100);
    WaitResult result = WaitResult::kReadable;
    while (result == WaitResult::kReadable) {
      Serial().PurgeReceive(host.link.port);
      result = Serial().WaitReadable(host.link.port, 1000);
    }
    EXPECT_EQ(result, WaitResult::kHungUp);
    EXPECT_EQ(host.Now(), gone);
    EXPECT_TRUE(Serial().Lost(host.link.port));
    uint8_t byte = 0;
    EXPECT_EQ(Serial().Read(host.link.port, &byte, 1), -1);
    EXPECT_EQ(Serial().Write(host.link.port, &byte, 1), -1);
    EXPECT_FALSE(Serial().Configure(host.link.port, 19200));
    EXPECT_FALSE(Serial().Reopen(host.link.port));
    EXPECT_EQ(host.Now(), gone);  // none of them waited
    const auto heard = [&] {
      size_t count = 0;
      for (const WireEvent& e : host.transport.Wire()) {
        count += e.direction == Direction::kHostToTarget && e.byte == REC_POLL_CODE;
      }
      return count;
    };
    EXPECT_GT(heard(), 10u);
    EXPECT_LT(heard(), 90u);

    Serial().Close(host.link.port);
    EXPECT_EQ(Serial().Open("sim"), -1);  // the device node is gone as well
    platform::SleepMs(4000);
    EXPECT_EQ(Serial().Open("sim"), -1);
    platform::SleepMs(1000);
    host.link.port = Serial().Open("sim");
    ASSERT_GE(host.link.port, 0);
    EXPECT_FALSE(Serial().Lost(host.link.port));
    ASSERT_TRUE(Serial().Configure(host.link.port, 19200));
    if (powerCycle) {
      EXPECT_STREQ(host.receiver.StateName(), "application");
    } else {
      EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
    }
  }
}

TEST(VirtualTransport, ALostHandleComesBackWithItsRateOnlyThroughReopen) {
  ReceiverConfig config;
  config.faults.unplugs.push_back({3000, 2000, false});
  SimHost host(config);
  host.Wake();
  EXPECT_FALSE(Serial().Lost(host.link.port));
  platform::SleepMs(1000);
  EXPECT_TRUE(Serial().Lost(host.link.port));
  platform::SleepMs(2000);
  EXPECT_TRUE(Serial().Lost(host.link.port));  // back, but this handle is still the old one
  EXPECT_EQ(Serial().WaitReadable(host.link.port, 100), WaitResult::kHungUp);
  EXPECT_TRUE(Serial().Reopen(host.link.port));
  EXPECT_FALSE(Serial().Lost(host.link.port));
  EXPECT_EQ(host.transport.HostBaud(), 19200u);
  EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
}

TEST(VirtualTransport, InstallsItselfAsDriverAndClockForItsScope) {
  Receiver receiver;
  VirtualTransport transport(receiver);
  {
    ScopedVirtualTransport installed(transport);
    EXPECT_EQ(&platform::Serial(), &transport);
    EXPECT_EQ(&platform::TheClock(), &transport);
    platform::SleepMs(1500);
    EXPECT_EQ(platform::NowUs(), 1500000u);
  }
  EXPECT_NE(&platform::Serial(), &transport);
  EXPECT_NE(&platform::TheClock(), &transport);
}

}  // namespace
}  // namespace gpsfw::sim::test
