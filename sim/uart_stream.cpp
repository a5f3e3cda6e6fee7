#include "sim/uart_stream.h"

#include <algorithm>

namespace gpsfw::sim {
namespace {

constexpr uint32_t kStopIndex = 9;  // start bit, 8 data bits, stop bit
constexpr uint32_t kTicksPerBit = 16;
// How far the sender's and the receiver's bit clocks may drift apart per bit: 1 part in
// this many (1 %, two baud generators each off by up to half of that).
constexpr uint64_t kDriftPerBit = 100;
// Keys of the generator's draws for one frame: the sample index, or the clock's phase.
constexpr uint32_t kPhaseKey = 0xFFFF;

// When bit `index` of a byte sent at `baud` begins, from its start bit.
SimTime BitStartNs(uint32_t index, uint32_t baud) {
  return (uint64_t{index} * kNsPerSecond + baud - 1) / baud;
}

// The level of bit `index` (0 the start bit, 9 the stop bit, beyond it the idle line).
bool BitLevel(uint8_t byte, uint64_t index) {
  if (index == 0) return false;
  if (index <= 8) return ((byte >> (index - 1)) & 1) != 0;
  return true;
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// A draw of the generator for one frame: the same seed, edge and key give the same draw.
uint64_t Draw(uint32_t seed, SimTime edgeNs, uint32_t key) {
  return Mix(Mix((uint64_t{seed} << 32) | key) ^ edgeNs);
}

}  // namespace

void UartStream::Push(const TxByte& byte) {
  UartConsumed entry;
  entry.byte = byte;
  bytes_.push_back(entry);
}

bool UartStream::Level(SimTime t) const {
  // The last byte that started by `t`; the line is idle (high) outside the bytes.
  auto after =
      std::upper_bound(bytes_.begin(), bytes_.end(), t,
                       [](SimTime at, const UartConsumed& b) { return at < b.byte.startNs; });
  if (after == bytes_.begin()) return true;
  const TxByte& byte = std::prev(after)->byte;
  if (t >= byte.endNs) return true;
  return BitLevel(byte.byte, (t - byte.startNs) * byte.baud / kNsPerSecond);
}

SimTime UartStream::NextChange(SimTime fromNs, bool* falls) const {
  auto first =
      std::upper_bound(bytes_.begin(), bytes_.end(), fromNs,
                       [](SimTime at, const UartConsumed& b) { return at < b.byte.endNs; });
  for (auto it = first; it != bytes_.end(); ++it) {
    const TxByte& byte = it->byte;
    for (uint32_t index = 0; index <= kStopIndex; ++index) {
      // The start bit falls from the idle line or a stop bit.
      const bool before = index == 0 || BitLevel(byte.byte, index - 1);
      const bool after = BitLevel(byte.byte, index);
      const SimTime at = byte.startNs + BitStartNs(index, byte.baud);
      if (before != after && at >= fromNs) {
        *falls = !after;
        return at;
      }
    }
  }
  return kNever;
}

SimTime UartStream::NextFallingEdge(SimTime fromNs) const {
  bool falls = false;
  for (SimTime at = NextChange(fromNs, &falls); at != kNever; at = NextChange(at + 1, &falls)) {
    if (falls) return at;
  }
  return kNever;
}

UartStream::Sampled UartStream::SampleFrom(SimTime edgeNs, uint32_t baud) const {
  const SimTime tick = std::max<SimTime>(1, kNsPerSecond / (uint64_t{kTicksPerBit} * baud));
  const SimTime origin = edgeNs + Draw(seed_, edgeNs, kPhaseKey) % tick;
  auto sample = [&](uint32_t index, SimTime* at) {
    *at = origin + (uint64_t{2} * index + 1) * kNsPerSecond / (uint64_t{2} * baud);
    // The two clocks drift apart over the frame: the later the sample, the wider the
    // stretch of the sender's waveform it may fall in.
    const SimTime window =
        tick + (uint64_t{2} * index + 1) * kNsPerSecond / (uint64_t{2} * baud * kDriftPerBit);
    bool falls = false;
    if (NextChange(*at - window, &falls) > *at + window) return Level(*at);
    return (Draw(seed_, edgeNs, index) & 1) != 0;
  };
  Sampled sampled;
  SimTime at = 0;
  sampled.started = !sample(0, &at);
  sampled.frame.atNs = at;
  sampled.doneNs = at + tick;
  if (!sampled.started) return sampled;
  for (uint32_t bit = 0; bit < 8; ++bit) {
    if (sample(bit + 1, &at)) sampled.frame.value |= static_cast<uint8_t>(1u << bit);
  }
  sampled.frame.framingError = !sample(kStopIndex, &at);
  sampled.frame.atNs = at;
  sampled.doneNs = at + tick;
  return sampled;
}

void UartStream::Run(SimTime horizonNs, uint32_t baud, std::vector<UartFrame>& frames,
                     std::vector<UartConsumed>& consumed) {
  while (baud != 0) {
    const SimTime edge = NextFallingEdge(huntFromNs_);
    if (edge >= horizonNs) break;
    const Sampled sampled = SampleFrom(edge, baud);
    if (sampled.doneNs > horizonNs) {
      huntFromNs_ = edge;  // the line is not known that far yet
      Consume(huntFromNs_, consumed);
      return;
    }
    huntFromNs_ = sampled.frame.atNs;
    if (!sampled.started) continue;  // a glitch, not a start bit
    auto in =
        std::upper_bound(bytes_.begin(), bytes_.end(), edge,
                         [](SimTime at, const UartConsumed& b) { return at < b.byte.startNs; });
    UartFrame frame = sampled.frame;
    UartConsumed& source = *std::prev(in);
    frame.garbled = source.byte.baud != baud;
    if (!source.framed) {
      source.framed = true;
      source.first = frame;
    }
    frames.push_back(frame);
  }
  // No falling edge before the horizon: nothing starts a frame up to there.
  huntFromNs_ = std::max(huntFromNs_, horizonNs);
  Consume(huntFromNs_, consumed);
}

void UartStream::Consume(SimTime upToNs, std::vector<UartConsumed>& consumed) {
  while (!bytes_.empty() && bytes_.front().byte.endNs <= upToNs) {
    consumed.push_back(bytes_.front());
    bytes_.pop_front();
  }
}

SimTime UartStream::NextNs(uint32_t baud) const {
  if (baud == 0) return kNever;
  const SimTime edge = NextFallingEdge(huntFromNs_);
  return edge == kNever ? kNever : SampleFrom(edge, baud).doneNs;
}

void UartStream::Clear(SimTime nowNs) {
  bytes_.clear();
  huntFromNs_ = std::max(huntFromNs_, nowNs);
}

}  // namespace gpsfw::sim
