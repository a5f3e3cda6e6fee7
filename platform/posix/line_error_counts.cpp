#include "platform/posix/line_error_counts.h"

#include <sys/ioctl.h>

#include <cerrno>

#if defined(__linux__) && defined(TIOCGICOUNT)
#include <linux/serial.h>
#define GPSFW_HAVE_ICOUNT 1
#endif

#include "platform/serial_driver.h"

namespace gpsfw::platform {

CountsRead ReadLineErrorCounts(int fd, LineErrorCounts* counts) {
#ifdef GPSFW_HAVE_ICOUNT
  serial_icounter_struct kernel{};
  if (::ioctl(fd, TIOCGICOUNT, &kernel) != 0) {
    return errno == ENOTTY || errno == EINVAL ? CountsRead::kUnsupported : CountsRead::kFailed;
  }
  counts->breaks = static_cast<uint32_t>(kernel.brk);
  counts->frame = static_cast<uint32_t>(kernel.frame);
  counts->overrun = static_cast<uint32_t>(kernel.overrun);
  counts->bufferOverrun = static_cast<uint32_t>(kernel.buf_overrun);
  counts->parity = static_cast<uint32_t>(kernel.parity);
  return CountsRead::kRead;
#else
  (void)fd;
  (void)counts;
  return CountsRead::kUnsupported;
#endif
}

uint32_t LineErrorFlags(const LineErrorCounts& before, const LineErrorCounts& now) {
  // The totals only grow (and wrap), so any difference is a new error.
  uint32_t flags = 0;
  if (now.breaks != before.breaks) flags |= kCeBreak;
  if (now.frame != before.frame) flags |= kCeFrame;
  if (now.overrun != before.overrun) flags |= kCeOverrun;
  if (now.bufferOverrun != before.bufferOverrun) flags |= kCeRxOver;
  if (now.parity != before.parity) flags |= kCeRxParity;
  return flags;
}

}  // namespace gpsfw::platform
