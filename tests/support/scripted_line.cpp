#include "tests/support/scripted_line.h"

#include <algorithm>

namespace gpsfw::test {
namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kByteGapUs = 500;  // bytes of one burst arrive well within the 1 ms gap

}  // namespace

ScriptedLine::ScriptedLine() {
  platform::InstallSerialDriver(this);
  platform::InstallClock(this);
}

ScriptedLine::~ScriptedLine() {
  platform::InstallSerialDriver(nullptr);
  platform::InstallClock(nullptr);
}

void ScriptedLine::Arrive(const std::vector<uint8_t>& bytes, uint32_t delayMs) {
  uint64_t t = nowUs_ + delayMs * kUsPerMs;
  for (uint8_t b : bytes) {
    ArriveAt(t, b);
    t += kByteGapUs;
  }
}

void ScriptedLine::ArriveAt(uint64_t timeUs, uint8_t byte) {
  Arrival a{timeUs, byte};
  auto pos =
      std::upper_bound(arrivals_.begin(), arrivals_.end(), a,
                       [](const Arrival& x, const Arrival& y) { return x.timeUs < y.timeUs; });
  arrivals_.insert(pos, a);
}

std::vector<uint8_t> ScriptedLine::WrittenBytes() const {
  std::vector<uint8_t> bytes;
  for (const Written& w : written) bytes.push_back(w.byte);
  return bytes;
}

int ScriptedLine::Open(const char* device) {
  openedDevice = device;
  return failOpen ? -1 : 3;
}

void ScriptedLine::Close(int) {}

bool ScriptedLine::Configure(int, uint32_t baud) {
  configured.push_back(baud);
  if (failConfigure) return false;
  baud_ = baud;
  return true;
}

bool ScriptedLine::ArrivedBy(uint64_t timeUs) const {
  return !arrivals_.empty() && arrivals_.front().timeUs <= timeUs;
}

uint8_t ScriptedLine::Take() {
  const uint8_t b = arrivals_.front().byte;
  arrivals_.pop_front();
  return b;
}

long ScriptedLine::Read(int, uint8_t* buffer, size_t size) {
  ++readCalls;
  if (hungUp || gone) return -1;
  const uint64_t deadline = nowUs_ + (1 + size) * kUsPerMs;
  if (!ArrivedBy(nowUs_)) {
    if (!ArrivedBy(deadline)) {
      nowUs_ = deadline;
      return 0;
    }
    nowUs_ = arrivals_.front().timeUs;
  }
  size_t n = 0;
  while (n < size && ArrivedBy(nowUs_ + kUsPerMs)) {
    nowUs_ = std::max(nowUs_, arrivals_.front().timeUs);
    buffer[n++] = Take();
  }
  return static_cast<long>(n);
}

long ScriptedLine::Write(int, const uint8_t* data, size_t size) {
  if (gone) return -1;
  const size_t n = std::min(size, maxPerWrite);
  for (size_t i = 0; i < n; ++i) {
    written.push_back({nowUs_, data[i], baud_});
    if (onHostByte) onHostByte(data[i]);
  }
  return static_cast<long>(n);
}

platform::WaitResult ScriptedLine::WaitReadable(int, uint32_t ms) {
  if (hungUp || gone) return platform::WaitResult::kHungUp;
  const uint64_t deadline = nowUs_ + ms * kUsPerMs;
  if (ArrivedBy(deadline)) {
    nowUs_ = std::max(nowUs_, arrivals_.front().timeUs);
    return platform::WaitResult::kReadable;
  }
  nowUs_ = deadline;
  CheckStop();
  return platform::WaitResult::kTimeout;
}

void ScriptedLine::PurgeReceive(int) {
  ++purges;
  while (ArrivedBy(nowUs_)) arrivals_.pop_front();
}

void ScriptedLine::Drain(int) {
  ++drains;
}

bool ScriptedLine::TakeLineErrors(int, uint32_t* flags) {
  *flags = 0;
  if (!lineErrors_.empty()) {
    *flags = lineErrors_.front();
    lineErrors_.pop_front();
  }
  return true;
}

void ScriptedLine::SleepMs(uint32_t ms) {
  sleeps.push_back(ms);
  nowUs_ += ms * kUsPerMs;
  CheckStop();
}

void ScriptedLine::CheckStop() const {
  if (nowUs_ >= stopAtUs) throw Stop{};
}

}  // namespace gpsfw::test
