#include "sim/wire_log.h"

#include <cstdio>

namespace gpsfw::sim {
namespace {

bool Continues(const WireRun& run, const WireEvent& event, SimTime gapNs) {
  if (run.direction != event.direction || run.senderBaud != event.senderBaud ||
      run.receiverBaud != event.receiverBaud || (run.garbled > 0) != event.garbled) {
    return false;
  }
  return event.startNs <= run.endNs || event.startNs - run.endNs <= gapNs;
}

}  // namespace

void AddToRuns(std::vector<WireRun>& runs, const WireEvent& event, SimTime gapNs,
               size_t keptBytes) {
  if (runs.empty() || !Continues(runs.back(), event, gapNs)) {
    WireRun run;
    run.direction = event.direction;
    run.senderBaud = event.senderBaud;
    run.receiverBaud = event.receiverBaud;
    run.startNs = event.startNs;
    runs.push_back(run);
  }
  WireRun& run = runs.back();
  run.endNs = event.endNs;
  if (run.bytes.size() < keptBytes) run.bytes.push_back(event.byte);
  ++run.count;
  if (event.garbled) ++run.garbled;
}

std::vector<WireRun> GroupRuns(const std::vector<WireEvent>& wire, SimTime gapNs) {
  std::vector<WireRun> runs;
  for (const WireEvent& event : wire) AddToRuns(runs, event, gapNs);
  return runs;
}

std::vector<uint8_t> BytesSent(const std::vector<WireEvent>& wire, Direction direction,
                               uint32_t senderBaud) {
  std::vector<uint8_t> bytes;
  for (const WireEvent& event : wire) {
    if (event.direction != direction) continue;
    if (senderBaud != 0 && event.senderBaud != senderBaud) continue;
    bytes.push_back(event.byte);
  }
  return bytes;
}

std::vector<uint8_t> BytesSentBetween(const std::vector<WireEvent>& wire, Direction direction,
                                      SimTime fromNs, SimTime toNs) {
  std::vector<uint8_t> bytes;
  for (const WireEvent& event : wire) {
    if (event.direction == direction && event.endNs >= fromNs && event.endNs < toNs) {
      bytes.push_back(event.byte);
    }
  }
  return bytes;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char hex[4];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
    text += hex;
  }
  return text;
}

}  // namespace gpsfw::sim
