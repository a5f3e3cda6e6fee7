#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace gpsfw::simtool {

// The receiver's side of a pseudo-terminal. The host opens the slave (through the published
// symlink); the simulator reads and writes the master. The simulator keeps a slave
// descriptor of its own, so that the host may close and open the port again without the
// master seeing a hang-up, and the line settings survive in between; --once releases it once
// the update has completed, to see the host's last close.
class PtyLink {
 public:
  // Throws std::runtime_error when the pty or the link cannot be made.
  explicit PtyLink(const std::string& linkPath);
  ~PtyLink();  // removes the link if it still points at this pty
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  int Master() const { return master_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }
  // The path the host opens: the link, or the slave itself without one.
  const std::string& PortPath() const { return linkPath_.empty() ? slavePath_ : linkPath_; }

  // The host's line speeds as it set them on the slave; 0 when not a known rate.
  uint32_t HostSendBaud() const;
  uint32_t HostReceiveBaud() const;
  // Closes the simulator's own slave descriptor. From then on the master hangs up exactly
  // when the host has no descriptor of the slave left, however it let go: closed it, exited
  // or was killed, with the tty's exclusive flag cleared or not (the flag lives as long as
  // any descriptor of the slave, ours included, and no ioctl tells whether a descriptor is
  // left).
  void ReleaseSlave() { slave_.Reset(); }
  // True once the slave was released and no host descriptor is left.
  bool HostGone() const;

 private:
  void Publish();

  platform::UniqueFd master_;
  platform::UniqueFd slave_;
  std::string slavePath_;
  std::string linkPath_;
};

}  // namespace gpsfw::simtool
