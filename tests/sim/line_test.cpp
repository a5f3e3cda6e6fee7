// A receiver run ahead of a real-time host answers exactly as one run in step with it.
#include "sim/line.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/link_codes.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

struct Sent {
  uint8_t byte;
  uint32_t baud;
  SimTime atNs;
};

// The wake sequence, polls at 19200, an SFLD record announced and sent.
std::vector<Sent> HostBytes() {
  std::vector<Sent> sent;
  for (uint8_t byte : WAKE_SEQUENCE) sent.push_back({byte, 57600, 0});
  for (int i = 0; i < 3; ++i) sent.push_back({SYNC_CODE, 19200, MsToNs(20 + 100 * i)});
  sent.push_back({PFLD_VER_CODE, 19200, MsToNs(400)});
  sent.push_back({SYNC_CODE, 19200, MsToNs(450)});
  const RecordPacket packet = DataRecord(0x20000000, Pattern(200));
  for (size_t i = 0; i < packet.length; ++i) sent.push_back({packet.frame[i], 19200, MsToNs(500)});
  return sent;
}

std::vector<std::pair<uint8_t, SimTime>> Heard(const std::vector<HostByte>& bytes) {
  std::vector<std::pair<uint8_t, SimTime>> heard;
  for (const HostByte& b : bytes) heard.emplace_back(b.value, b.arrivalNs);
  return heard;
}

TEST(Line, ARunAheadGivesTheHostTheSameBytesAtTheSameTimes) {
  const SimTime step = MsToNs(1);
  const SimTime end = MsToNs(1500);
  Receiver inStep;
  Line stepped(inStep);
  Receiver ahead;
  Line lookahead(ahead);
  std::vector<HostByte> fromStepped;
  std::vector<HostByte> fromAhead;
  const std::vector<Sent> sent = HostBytes();
  size_t next = 0;
  for (SimTime t = 0; t <= end; t += step) {
    for (; next < sent.size() && sent[next].atNs <= t; ++next) {
      stepped.HostSend(sent[next].byte, sent[next].baud, t);
      lookahead.HostSend(sent[next].byte, sent[next].baud, t);
    }
    stepped.AdvanceTo(t, 19200, fromStepped);
    lookahead.RunReceiverTo(std::max({t, lookahead.HostIdleAt(), lookahead.Now()}));
    lookahead.DeliverToHost(t, 19200, fromAhead);
  }
  ASSERT_GT(fromStepped.size(), 14u * 3);
  EXPECT_EQ(Heard(fromAhead), Heard(fromStepped));
  EXPECT_EQ(ahead.Result().Accepted(Stage::kSfld), 1);
}

TEST(Line, APortThatGoesLosesWhatIsInFlight) {
  Receiver receiver;
  Line line(receiver);
  for (int i = 0; i < 10; ++i) line.HostSend(0x00, 57600, 0);
  line.RunReceiverTo(ByteTimeNs(57600) * 3);
  line.DropInFlight();
  line.RunReceiverTo(MsToNs(10));
  size_t arrived = 0;
  for (const WireEvent& e : line.Wire()) arrived += e.direction == Direction::kHostToTarget;
  EXPECT_EQ(arrived, 3u);
  EXPECT_EQ(line.NextEventNs(), receiver.NextEventNs());
}

}  // namespace
}  // namespace gpsfw::sim::test
