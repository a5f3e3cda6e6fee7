#include "platform/posix/termios_serial_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/posix/deadline_poll.h"
#include "platform/posix/line_error_counts.h"
#include "platform/low_latency.h"
#include "platform/stop_signals.h"
#include "platform/posix/termios_line_settings.h"
#include "platform/posix/tty_calls.h"
#include "platform/unique_fd.h"

namespace gpsfw::platform {
namespace {

// The loader holds one port; a few slots leave room for tests and tools.
constexpr int kMaxOpenPorts = 8;
// A read waits this long, plus as much per requested byte, for its first byte.
constexpr long kReadFirstByteMs = 1;
constexpr long kReadPerByteMs = 1;
// A read ends when the line stays silent for longer than this after a byte.
constexpr long kReadGapMs = 1;
// Longest wait of one write for room in the transmit buffer; the caller then tries again.
constexpr long kWriteRoomMs = 1000;
// Bounds the first-byte wait of a huge read so that its deadline cannot overflow.
constexpr size_t kMaxTimedReadBytes = 60000;
// A drain looks at the kernel's transmit queue this often, and waits for it no longer than
// its bytes take on the line (ten bits each) and this margin for the adapter's own latency.
constexpr long kDrainCheckMs = 1;
constexpr long kDrainMarginMs = 1000;

long DrainBoundMs(int queued, uint32_t baud) {
  const long bitsPerSecond = baud != 0 ? static_cast<long>(baud) : 4800;  // slowest rate used
  return kDrainMarginMs + (10L * queued * 1000 + bitsPerSecond - 1) / bitsPerSecond;
}

struct OpenTty {
  UniqueFd fd;
  termios original{};
  bool countsKnown = false;
  bool countsUnsupported = false;
  LineErrorCounts counts;
  // What it takes to open the same device again after it went away.
  char device[PATH_MAX] = {};
  uint32_t baud = 0;
  bool lost = false;
  LowLatencyState lowLatency;
};

// The kernel's error totals of a freshly opened descriptor, or the note that it keeps none.
void TakeCounts(OpenTty* tty, int fd) {
  const CountsRead read = ReadLineErrorCounts(fd, &tty->counts);
  tty->countsKnown = read == CountsRead::kRead;
  tty->countsUnsupported = read == CountsRead::kUnsupported;
}

// What a read returns when it has to stop early: the bytes it has, or the failure.
long ReadResult(size_t got) {
  return got > 0 ? static_cast<long>(got) : -1;
}

class TermiosDriver final : public SerialDriver {
 public:
  ~TermiosDriver() override {
    for (OpenTty& tty : ttys_) {
      if (tty.fd.Valid()) Close(tty.fd.Get());
    }
  }

  int Open(const char* device) override {
    OpenTty* slot = FreeSlot();
    if (slot == nullptr || std::strlen(device) >= sizeof slot->device) return -1;
    UniqueFd fd = OpenExclusive(device, &slot->original);
    if (!fd.Valid()) return -1;
    TakeCounts(slot, fd.Get());
    lowLatency_.Request(fd.Get(), DeviceNumber(fd.Get()), LowLatencyWanted(), &slot->lowLatency);
    std::strcpy(slot->device, device);
    slot->baud = 0;
    slot->lost = false;
    slot->fd = std::move(fd);
    return slot->fd.Get();
  }

  void Close(int handle) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr) return;
    lowLatency_.Restore(handle, &tty->lowLatency);
    (void)::tcsetattr(handle, TCSANOW, &tty->original);
    (void)::ioctl(handle, TIOCNXCL);
    tty->fd.Reset();
    tty->countsKnown = false;
  }

  bool Lost(int handle) override {
    const OpenTty* tty = Find(handle);
    return tty != nullptr && tty->lost;
  }

  LowLatency LowLatencyOf(int handle) override {
    const OpenTty* tty = Find(handle);
    return tty != nullptr ? tty->lowLatency.status : LowLatency::kNotAsked;
  }

  // The new device takes the old descriptor's number, so that the handle stays valid; the
  // old one, and its lock, go with it.
  bool Reopen(int handle) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr) return false;
    if (!tty->lost) return true;
    termios original{};
    UniqueFd fd = OpenExclusive(tty->device, &original);
    if (!fd.Valid() || ::dup3(fd.Get(), handle, O_CLOEXEC) != handle) return false;
    tty->original = original;
    tty->lost = false;
    TakeCounts(tty, handle);
    // The device that came back has its own flags: the old ones left with the old device.
    lowLatency_.Request(handle, DeviceNumber(handle), LowLatencyWanted(), &tty->lowLatency);
    if (tty->baud != 0 && !Configure(handle, tty->baud)) {
      tty->lost = true;
      return false;
    }
    return true;
  }

  bool Retarget(int handle, const char* device) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr || !tty->lost || std::strlen(device) >= sizeof tty->device) return false;
    std::strcpy(tty->device, device);
    return true;
  }

  bool Configure(int handle, uint32_t baud) override {
    speed_t speed = 0;
    OpenTty* tty = Find(handle);
    if (tty == nullptr || tty->lost || !SpeedForBaud(baud, &speed)) return false;
    termios settings{};
    if (::tcgetattr(handle, &settings) != 0) return false;
    MakeRaw8N1(&settings);
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
    // tcsetattr() succeeds when any part of the change took; the read-back tells whether
    // the driver really runs at the new rate.
    if (::tcsetattr(handle, TCSANOW, &settings) != 0) return false;
    LowerModemControlLines(handle);
    termios applied{};
    if (::tcgetattr(handle, &applied) != 0 || ::cfgetospeed(&applied) != speed) return false;
    tty->baud = baud;
    return true;
  }

  long Read(int handle, uint8_t* buffer, size_t size) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr || tty->lost) return -1;
    if (size == 0) return 0;
    const size_t timed = size < kMaxTimedReadBytes ? size : kMaxTimedReadBytes;
    Deadline deadline =
        DeadlineAfterMs(kReadFirstByteMs + kReadPerByteMs * static_cast<long>(timed));
    size_t got = 0;
    // The caller has mostly waited for readability already, so the first read goes ahead
    // without a poll; only a read that finds nothing waits.
    bool pollBeforeRead = false;
    while (got < size) {
      if (pollBeforeRead) {
        const int events = PollUntil(handle, POLLIN, deadline);
        if (events == 0) break;
        if (events < 0 || (events & POLLIN) == 0) {
          tty->lost = events > 0;
          return ReadResult(got);
        }
      }
      pollBeforeRead = true;
      const long n = ReadAvailable(handle, buffer + got, size - got, &tty->lost);
      if (n < 0) return ReadResult(got);
      // Nothing there: wait for it, but never past the deadline, as a driver that keeps
      // claiming input without any would otherwise hold the read forever.
      if (n == 0) {
        if (Passed(deadline)) break;
        continue;
      }
      got += static_cast<size_t>(n);
      deadline = DeadlineAfterMs(kReadGapMs);
    }
    return static_cast<long>(got);
  }

  long Write(int handle, const uint8_t* data, size_t size) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr || tty->lost) return -1;
    const Deadline deadline = DeadlineAfterMs(kWriteRoomMs);
    size_t taken = 0;
    while (taken < size) {
      const ssize_t n = ::write(handle, data + taken, size - taken);
      if (n > 0) {
        taken += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && !WouldBlock(errno)) {
        tty->lost = MeansGone(errno);
        return taken > 0 ? static_cast<long>(taken) : -1;
      }
      // The transmit buffer is full: hand back what went, or wait for room once.
      if (taken > 0 || Passed(deadline)) break;
      const int events = PollUntil(handle, POLLOUT, deadline);
      if (events == 0) break;
      if (events < 0 || (events & POLLOUT) == 0) {
        tty->lost = events > 0;
        return -1;
      }
    }
    return static_cast<long>(taken);
  }

  WaitResult WaitReadable(int handle, uint32_t ms) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr || tty->lost) return WaitResult::kHungUp;
    const int events = PollUntil(handle, POLLIN, DeadlineAfterMs(static_cast<long>(ms)));
    // A hung-up tty stays "readable" forever; calling it readable would make the caller
    // spin on reads that return nothing.
    if (events > 0 && (events & HangUpEvents()) != 0) tty->lost = true;
    if (events < 0 || (events & HangUpEvents()) != 0) return WaitResult::kHungUp;
    return events == 0 ? WaitResult::kTimeout : WaitResult::kReadable;
  }

  void PurgeReceive(int handle) override {
    if (Find(handle) != nullptr) (void)::tcflush(handle, TCIFLUSH);
  }

  // tcdrain() alone may never return: a USB adapter whose device stopped taking bytes keeps
  // the kernel's queue full, and the call has no time-out. The kernel's queue is therefore
  // watched with a bound of its own; once it is empty, tcdrain() waits only for what the
  // UART's FIFO still holds, which leaves at the line's rate.
  void Drain(int handle) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr || tty->lost) return;
    if (!EmptyTransmitQueue(tty, handle)) return;
    while (::tcdrain(handle) != 0) {
      if (errno == EINTR) {
        if (CheckStop()) return;
        continue;
      }
      tty->lost = MeansGone(errno);
      return;
    }
  }

  bool TakeLineErrors(int handle, uint32_t* flags) override {
    OpenTty* tty = Find(handle);
    if (tty == nullptr) return false;
    *flags = 0;
    // Without the kernel's totals there are no line errors to report.
    if (tty->countsUnsupported) return true;
    const LineErrorCounts before = tty->counts;
    const bool hadCounts = tty->countsKnown;
    TakeCounts(tty, handle);
    if (hadCounts && tty->countsKnown) *flags = LineErrorFlags(before, tty->counts);
    return true;
  }

 private:
  // Waits until the kernel has handed every queued byte to the device, at most as long as
  // the bytes take on the line and a margin. What is still queued then is dropped: the
  // receiver misses a frame, which the protocol recovers from, while the caller goes on.
  // False when the wait ended without an empty queue.
  bool EmptyTransmitQueue(OpenTty* tty, int handle) {
    int queued = 0;
    if (::ioctl(handle, TIOCOUTQ, &queued) != 0) return true;  // no queue to watch
    const Deadline deadline = DeadlineAfterMs(DrainBoundMs(queued, tty->baud));
    while (queued > 0) {
      if (Passed(deadline)) {
        (void)::tcflush(handle, TCOFLUSH);
        return false;
      }
      if (CheckStop()) return false;
      const int events = PollUntil(handle, 0, DeadlineAfterMs(kDrainCheckMs));
      if (events > 0 && (events & HangUpEvents()) != 0) {
        tty->lost = true;
        return false;
      }
      if (::ioctl(handle, TIOCOUTQ, &queued) != 0) return true;
    }
    return true;
  }

  OpenTty* Find(int handle) {
    if (handle < 0) return nullptr;
    for (OpenTty& tty : ttys_) {
      if (tty.fd.Get() == handle) return &tty;
    }
    return nullptr;
  }

  OpenTty* FreeSlot() {
    for (OpenTty& tty : ttys_) {
      if (!tty.fd.Valid()) return &tty;
    }
    return nullptr;
  }

  OpenTty ttys_[kMaxOpenPorts];
  LowLatencyRequests lowLatency_{SystemSerialFlagsIo()};
};

}  // namespace

SerialDriver& TermiosSerialDriver() {
  static TermiosDriver driver;
  return driver;
}

}  // namespace gpsfw::platform
