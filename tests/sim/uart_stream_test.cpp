// The host's UART on the whole waveform: what a stream sent at one rate becomes at another.
#include "sim/uart_stream.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "protocol/link_codes.h"
#include "sim/nmea.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

constexpr uint32_t kNmeaRates[] = {4800, 9600, 38400, 57600, 115200};

// `bytes` at `baud` back to back from `atNs` on; returns the end of the last.
SimTime PushAll(UartStream& uart, const std::string& bytes, uint32_t baud, SimTime atNs) {
  for (char c : bytes) {
    TxByte byte{static_cast<uint8_t>(c), baud, atNs, atNs + ByteTimeNs(baud)};
    uart.Push(byte);
    atNs = byte.endNs;
  }
  return atNs;
}

// `seconds` of the application's bursts at `baud`, sampled at `hostBaud` in steps of
// `stepNs` (0: in one go). Framing errors read as 0x00, as from the tty.
std::vector<uint8_t> NmeaSoup(uint32_t baud, uint32_t hostBaud, int seconds, SimTime stepNs = 0,
                              uint32_t seed = 1) {
  UartStream uart(seed);
  SimTime end = 0;
  for (int second = 1; second <= seconds; ++second) {
    end = PushAll(uart, NmeaBurst(second * 1000), baud, second * kNsPerSecond);
  }
  std::vector<UartFrame> frames;
  std::vector<UartConsumed> consumed;
  for (SimTime t = stepNs; stepNs != 0 && t < end; t += stepNs) {
    uart.Run(t, hostBaud, frames, consumed);
  }
  uart.Run(end + kNsPerSecond, hostBaud, frames, consumed);
  std::vector<uint8_t> soup;
  for (const UartFrame& frame : frames) soup.push_back(frame.framingError ? 0 : frame.value);
  return soup;
}

TEST(UartStream, EqualRatesPassEveryByteUnchanged) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  for (uint32_t baud : {4800u, 19200u, 57600u, 115200u}) {
    for (uint32_t seed : {1u, 7u}) {
      SCOPED_TRACE(::testing::Message() << baud << " seed " << seed);
      UartStream uart(seed);
      // Back to back, and after a gap of an odd number of nanoseconds.
      const std::string sent = NmeaBurst(1000) + all;
      const SimTime gap = PushAll(uart, NmeaBurst(1000), baud, 0) + 12345;
      const SimTime end = PushAll(uart, all, baud, gap);
      std::vector<UartFrame> frames;
      std::vector<UartConsumed> consumed;
      uart.Run(end, baud, frames, consumed);
      ASSERT_EQ(frames.size(), sent.size());
      for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(frames[i].value, static_cast<uint8_t>(sent[i])) << i;
        ASSERT_FALSE(frames[i].framingError);
        ASSERT_FALSE(frames[i].garbled);
      }
      EXPECT_EQ(consumed.size(), sent.size());
    }
  }
}

struct Garbled {
  uint8_t byte;
  uint32_t sender;
  uint32_t receiver;
  std::vector<UartFrame> frames;  // value and framing error
};

TEST(UartStream, ASlowBytesLowBitsYieldFurtherFrames) {
  const Garbled cases[] = {
      // Three runs of low bits, each longer than a whole frame at the faster rate.
      {'$', 4800, 115200, {{0x00, true}, {0x00, true}, {0x00, true}}},
      // Every falling edge of a byte sent at a third of the rate starts a frame.
      {SYNC_CODE, 19200, 57600, {{0x1C, false}, {0x1C, false}, {0xFC, false}}},
  };
  for (const Garbled& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.byte));
    UartStream uart(1);
    const SimTime end = PushAll(uart, std::string(1, char(c.byte)), c.sender, 0);
    std::vector<UartFrame> frames;
    std::vector<UartConsumed> consumed;
    uart.Run(end + kNsPerMs, c.receiver, frames, consumed);
    ASSERT_EQ(frames.size(), c.frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].value, c.frames[i].value) << i;
      EXPECT_EQ(frames[i].framingError, c.frames[i].framingError) << i;
      EXPECT_TRUE(frames[i].garbled);
    }
    ASSERT_EQ(consumed.size(), 1u);
    EXPECT_TRUE(consumed[0].framed);
    EXPECT_EQ(consumed[0].first.value, c.frames[0].value);
  }
}

TEST(UartStream, NmeaAtAnotherRateIsAFixedSoupWithTheProtocolsBytes) {
  std::set<uint8_t> at19200;
  for (uint32_t hostBaud : {19200u, 115200u}) {
    for (uint32_t baud : kNmeaRates) {
      if (baud == hostBaud) continue;
      SCOPED_TRACE(::testing::Message() << baud << " into " << hostBaud);
      const std::vector<uint8_t> soup = NmeaSoup(baud, hostBaud, 20);
      ASSERT_FALSE(soup.empty());
      // However often the host looks, and in a second run, the soup is the same.
      EXPECT_EQ(NmeaSoup(baud, hostBaud, 20, 700 * kNsPerUs), soup);
      // A faster stream puts edges next to the samples: there the seed decides.
      if (baud > hostBaud) {
        EXPECT_NE(NmeaSoup(baud, hostBaud, 20, 0, 2), soup);
      }
      if (hostBaud == 19200) at19200.insert(soup.begin(), soup.end());
    }
  }
  for (uint8_t byte : {SYNC_CODE, REC_WAIT_CODE, REC_POLL_CODE, uint8_t{'$'}}) {
    EXPECT_EQ(at19200.count(byte), 1u) << std::hex << int(byte);
  }
}

TEST(UartStream, TheHostReadsTheSameSoupTwiceThroughTheTransport) {
  std::vector<uint8_t> first;
  for (int run = 0; run < 2; ++run) {
    ReceiverConfig config;
    config.nmea.baud = 57600;
    SimHost host(config);
    host.Baud(19200);
    const std::vector<uint8_t> heard = host.Collect(5500);
    ASSERT_GT(heard.size(), 100u);
    if (run == 0) first = heard;
    EXPECT_EQ(heard, first);
    for (const WireEvent& event : host.transport.Wire()) {
      if (event.direction != Direction::kTargetToHost) continue;
      EXPECT_TRUE(event.garbled);
      EXPECT_EQ(event.senderBaud, 57600u);
      EXPECT_EQ(event.receiverBaud, 19200u);
    }
  }
}

}  // namespace
}  // namespace gpsfw::sim::test
