// Bytes sent at a rate the other side does not listen on arrive garbled, in both directions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
#include "sim/uart.h"
#include "sim/wire_log.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

constexpr uint32_t kRates[] = {4800, 19200, 57600, 115200};

TEST(UartSampling, EqualRatesGiveTheByteItself) {
  for (uint32_t rate : kRates) {
    for (int byte = 0; byte < 256; ++byte) {
      const UartSample sample = SampleByte(static_cast<uint8_t>(byte), rate, rate);
      ASSERT_TRUE(sample.delivered);
      ASSERT_FALSE(sample.framingError);
      ASSERT_EQ(sample.value, byte) << rate;
    }
  }
}

struct Garbled {
  uint8_t byte;
  uint32_t sender;
  uint32_t receiver;
  bool delivered;
  uint8_t value;
  bool framingError;
};

TEST(UartSampling, OtherRatesGarbleDeterministically) {
  const Garbled cases[] = {
      // Slower sender: its bits stretch over several of the receiver's.
      {SYNC_CODE, 19200, 57600, true, 0x1C, false},
      {SYNC_CODE, 19200, 115200, true, 0xE0, false},
      {REC_POLL_CODE, 19200, 115200, true, 0x00, true},
      {0x24, 4800, 57600, true, 0x00, true},  // all start bit: a framing error
      // Faster sender: the start bit is over before the receiver checks it, or not.
      {0xFF, 115200, 19200, false, 0, false},
      {SYNC_CODE, 115200, 19200, false, 0, false},
      {VER_QUERY_CODE, 115200, 19200, true, 0xFF, false},
      {0x24, 57600, 19200, true, 0xFC, false},
  };
  for (const Garbled& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.byte) << std::dec << " at " << c.sender
                                      << " into " << c.receiver);
    const UartSample sample = SampleByte(c.byte, c.sender, c.receiver);
    EXPECT_EQ(sample.delivered, c.delivered);
    if (!c.delivered) continue;
    EXPECT_EQ(sample.value, c.value);
    EXPECT_EQ(sample.framingError, c.framingError);
  }
}

TEST(Garbling, TheWakeSequenceCountsOnlyAtTheApplicationsRate) {
  ReceiverConfig config;
  config.powerOnBaud = 4800;
  SimHost host(config);
  host.Baud(57600);
  host.Send(std::vector<uint8_t>(WAKE_SEQUENCE, WAKE_SEQUENCE + sizeof WAKE_SEQUENCE));
  host.Baud(19200);
  EXPECT_TRUE(host.Ask(SYNC_CODE, 500).empty());
  EXPECT_STREQ(host.receiver.StateName(), "application");
  for (const WireEvent& event : host.transport.Wire()) {
    EXPECT_TRUE(event.garbled);
    EXPECT_EQ(event.receiverBaud, 4800u);
  }

  host.Baud(4800);
  host.Send(std::vector<uint8_t>(WAKE_SEQUENCE, WAKE_SEQUENCE + sizeof WAKE_SEQUENCE));
  host.Baud(19200);
  EXPECT_EQ(host.Ask(SYNC_CODE), Bytes("$VER BL 2.04\r\n"));
}

TEST(Garbling, FollowsEveryRateChangeOfEitherSide) {
  SimHost host;
  host.Wake();
  // The host has moved on to 115200 too early: the boot loader does not hear it.
  host.Baud(115200);
  EXPECT_TRUE(host.Ask(SYNC_CODE).empty());
  // Back at 19200 it is heard, but the host switches away while the answer is on the line.
  host.Baud(19200);
  const size_t before = host.transport.Wire().size();
  platform::Serial().Write(host.link.port, &SYNC_CODE, 1);
  platform::Serial().Configure(host.link.port, 115200);
  const std::vector<uint8_t> heard = host.Collect(100);
  EXPECT_NE(heard, Bytes("$VER BL 2.04\r\n"));

  size_t garbledAnswers = 0;
  for (size_t i = before; i < host.transport.Wire().size(); ++i) {
    const WireEvent& event = host.transport.Wire()[i];
    if (event.direction != Direction::kTargetToHost) continue;
    EXPECT_TRUE(event.garbled);
    EXPECT_EQ(event.senderBaud, 19200u);
    EXPECT_EQ(event.receiverBaud, 115200u);
    ++garbledAnswers;
  }
  EXPECT_EQ(garbledAnswers, 14u);
}

TEST(Garbling, TheSfldMovesTo115200AfterItsAnswer) {
  SimHost host;
  host.UploadSfld();
  EXPECT_EQ(host.Ask(SYNC_CODE), std::vector<uint8_t>{SYNC_CODE});
  // Still at 19200, the host is not understood; at 115200 it is.
  EXPECT_TRUE(host.Ask(VER_QUERY_CODE).empty());
  host.Baud(115200);
  EXPECT_EQ(host.Ask(VER_QUERY_CODE), Bytes("$VER SFLD 1.10\r\n"));
  const std::vector<WireRun> runs = GroupRuns(host.transport.Wire());
  const WireRun& early = runs[runs.size() - 3];
  EXPECT_EQ(early.bytes, std::vector<uint8_t>{VER_QUERY_CODE});
  EXPECT_EQ(early.senderBaud, 19200u);
  EXPECT_EQ(early.receiverBaud, 115200u);
  EXPECT_EQ(early.garbled, 1u);
}

}  // namespace
}  // namespace gpsfw::sim::test
