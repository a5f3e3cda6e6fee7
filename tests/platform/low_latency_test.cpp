#include "platform/low_latency.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace gpsfw::platform {
namespace {

// A tty driver's serial flags in memory: records every request, refuses as told.
class FakeFlags final : public SerialFlagsIo {
 public:
  bool GetFlags(int fd, uint32_t* value) override {
    calls.push_back("get " + std::to_string(fd));
    if (refuseGet) return false;
    *value = flags;
    return true;
  }
  bool SetFlags(int fd, uint32_t value) override {
    calls.push_back("set " + std::to_string(fd) + " " + std::to_string(value));
    if (refuseSet) return false;
    // A driver that takes the request but has no latency to lower drops the flag.
    flags = ignoreLowLatency ? value & ~kAsyncLowLatency : value;
    return true;
  }

  std::vector<std::string> calls;
  uint32_t flags = 0x10;
  bool refuseGet = false;
  bool refuseSet = false;
  bool ignoreLowLatency = false;
};

constexpr uint64_t kTtyUsb0 = 0xBC00;
constexpr uint64_t kTtyUsb1 = 0xBC01;
const std::string kLowFlags = std::to_string(0x10 | kAsyncLowLatency);

TEST(LowLatency, SetAtTheOpenAndTheOldFlagsBackAtTheClose) {
  FakeFlags io;
  LowLatencyRequests requests(io);
  LowLatencyState state;
  requests.Request(5, kTtyUsb0, true, &state);
  EXPECT_EQ(state.status, LowLatency::kOn);
  EXPECT_EQ(io.calls, (std::vector<std::string>{"get 5", "set 5 " + kLowFlags, "get 5"}));

  io.calls.clear();
  requests.Restore(5, &state);
  EXPECT_EQ(io.calls, std::vector<std::string>{"set 5 16"});
  EXPECT_EQ(io.flags, 0x10u);
  EXPECT_EQ(state.status, LowLatency::kNotAsked);
}

TEST(LowLatency, APortAlreadyAtLowLatencyIsLeftAsItIs) {
  FakeFlags io;
  io.flags = 0x10 | kAsyncLowLatency;
  LowLatencyRequests requests(io);
  LowLatencyState state;
  requests.Request(5, kTtyUsb0, true, &state);
  EXPECT_EQ(state.status, LowLatency::kOn);
  requests.Restore(5, &state);
  EXPECT_EQ(io.calls, std::vector<std::string>{"get 5"});
}

TEST(LowLatency, ARefusingPortIsNeverAskedAgainButOthersAre) {
  const struct {
    const char* name;
    bool refuseGet, refuseSet, ignore;
  } kRefusals[] = {
      {"no serial flags (a pty)", true, false, false},
      {"set refused", false, true, false},
      {"flag dropped", false, false, true},
  };
  for (const auto& refusal : kRefusals) {
    FakeFlags io;
    io.refuseGet = refusal.refuseGet;
    io.refuseSet = refusal.refuseSet;
    io.ignoreLowLatency = refusal.ignore;
    LowLatencyRequests requests(io);
    LowLatencyState state;
    requests.Request(5, kTtyUsb0, true, &state);
    EXPECT_EQ(state.status, LowLatency::kRefused) << refusal.name;
    requests.Restore(5, &state);

    // The same port opened again, on another descriptor: not one request.
    io.calls.clear();
    requests.Request(6, kTtyUsb0, true, &state);
    EXPECT_EQ(state.status, LowLatency::kRefused) << refusal.name;
    requests.Restore(6, &state);
    EXPECT_TRUE(io.calls.empty()) << refusal.name;

    io.refuseGet = io.refuseSet = io.ignoreLowLatency = false;
    requests.Request(7, kTtyUsb1, true, &state);
    EXPECT_EQ(state.status, LowLatency::kOn) << refusal.name;
  }
}

TEST(LowLatency, SwitchedOffLeavesThePortAlone) {
  FakeFlags io;
  LowLatencyRequests requests(io);
  LowLatencyState state;
  requests.Request(5, kTtyUsb0, false, &state);
  EXPECT_EQ(state.status, LowLatency::kNotAsked);
  requests.Restore(5, &state);
  EXPECT_TRUE(io.calls.empty());
}

TEST(LowLatency, TheTableOfRefusalsForgetsItsOldestWhenFull) {
  FakeFlags io;
  io.refuseGet = true;
  LowLatencyRequests requests(io);
  LowLatencyState state;
  for (uint64_t device = 1; device <= 17; ++device) requests.Request(5, device, true, &state);
  io.calls.clear();
  requests.Request(5, 1, true, &state);  // forgotten: asked again
  requests.Request(5, 17, true, &state);
  EXPECT_EQ(io.calls, std::vector<std::string>{"get 5"});
}

}  // namespace
}  // namespace gpsfw::platform
