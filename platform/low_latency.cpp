#include "platform/low_latency.h"

#if defined(__linux__)
#include <sys/ioctl.h>
#endif
#if defined(__linux__) && defined(TIOCGSERIAL)
#include <linux/serial.h>
#include <linux/tty_flags.h>
#define GPSFW_HAVE_SERIAL_FLAGS 1
#endif

namespace gpsfw::platform {
namespace {

bool g_lowLatencyWanted = true;

#ifdef GPSFW_HAVE_SERIAL_FLAGS
static_assert(kAsyncLowLatency == ASYNC_LOW_LATENCY, "the kernel's ASYNC_LOW_LATENCY");

class SystemIo final : public SerialFlagsIo {
 public:
  bool GetFlags(int fd, uint32_t* flags) override {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
    *flags = static_cast<uint32_t>(serial.flags);
    return true;
  }
  // The flags travel with the port's other settings, which go back as they were read.
  bool SetFlags(int fd, uint32_t flags) override {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
    serial.flags = static_cast<int>(flags);
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
  }
};
#else
class SystemIo final : public SerialFlagsIo {
 public:
  bool GetFlags(int, uint32_t*) override { return false; }
  bool SetFlags(int, uint32_t) override { return false; }
};
#endif

}  // namespace

SerialFlagsIo& SystemSerialFlagsIo() {
  static SystemIo io;
  return io;
}

void SetLowLatencyWanted(bool wanted) {
  g_lowLatencyWanted = wanted;
}

bool LowLatencyWanted() {
  return g_lowLatencyWanted;
}

void LowLatencyRequests::Request(int fd, uint64_t device, bool wanted, LowLatencyState* state) {
  *state = LowLatencyState{};
  if (!wanted) return;
  if (RefusedBefore(device)) {
    state->status = LowLatency::kRefused;
    return;
  }
  uint32_t flags = 0;
  if (!io_.GetFlags(fd, &flags)) {
    NoteRefused(device);
    state->status = LowLatency::kRefused;
    return;
  }
  if ((flags & kAsyncLowLatency) != 0) {
    state->status = LowLatency::kOn;
    return;
  }
  // Some drivers take the request and ignore the flag: only the read-back tells.
  uint32_t applied = 0;
  if (!io_.SetFlags(fd, flags | kAsyncLowLatency) || !io_.GetFlags(fd, &applied) ||
      (applied & kAsyncLowLatency) == 0) {
    NoteRefused(device);
    state->status = LowLatency::kRefused;
    return;
  }
  state->status = LowLatency::kOn;
  state->setByLoader = true;
  state->savedFlags = flags;
}

void LowLatencyRequests::Restore(int fd, LowLatencyState* state) {
  // A port that went away takes its flags with it; the failure has no one to tell.
  if (state->setByLoader) (void)io_.SetFlags(fd, state->savedFlags);
  *state = LowLatencyState{};
}

bool LowLatencyRequests::RefusedBefore(uint64_t device) const {
  for (size_t i = 0; i < refusedCount_; ++i) {
    if (refused_[i] == device) return true;
  }
  return false;
}

void LowLatencyRequests::NoteRefused(uint64_t device) {
  if (refusedCount_ < kRememberedPorts) {
    refused_[refusedCount_++] = device;
    return;
  }
  refused_[nextForgotten_] = device;
  nextForgotten_ = (nextForgotten_ + 1) % kRememberedPorts;
}

}  // namespace gpsfw::platform
