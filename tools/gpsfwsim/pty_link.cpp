#include "tools/gpsfwsim/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/posix/termios_line_settings.h"

namespace gpsfw::simtool {
namespace {

constexpr size_t kPathCapacity = 4096;

uint32_t BaudOf(speed_t speed) {
  return platform::BaudForSpeed(speed);
}

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void SetDescriptorFlags(int fd, bool nonBlocking) {
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) throw SystemError("fcntl");
  if (nonBlocking && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    throw SystemError("fcntl");
  }
}

// Raw 8N1 at the application's usual rate until the host sets its own.
void MakeRaw(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) throw SystemError("tcgetattr");
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&settings, B57600);
  ::cfsetospeed(&settings, B57600);
  if (::tcsetattr(fd, TCSANOW, &settings) != 0) throw SystemError("tcsetattr");
}

bool PointsAt(const std::string& link, const std::string& target) {
  char buffer[kPathCapacity];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  return n > 0 && std::string(buffer, static_cast<size_t>(n)) == target;
}

}  // namespace

PtyLink::PtyLink(const std::string& linkPath) : linkPath_(linkPath) {
  int master = -1;
  int slave = -1;
  char name[kPathCapacity];
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) throw SystemError("openpty");
  master_.Reset(master);
  slave_.Reset(slave);
  slavePath_ = name;
  SetDescriptorFlags(master, true);
  SetDescriptorFlags(slave, false);
  MakeRaw(slave);
  // The host may run as another user than the simulator.
  ::chmod(slavePath_.c_str(), 0666);
  if (!linkPath_.empty()) Publish();
}

PtyLink::~PtyLink() {
  if (!linkPath_.empty() && PointsAt(linkPath_, slavePath_)) ::unlink(linkPath_.c_str());
}

void PtyLink::Publish() {
  struct stat existing {};
  if (::lstat(linkPath_.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    throw std::runtime_error(linkPath_ + " exists and is not a symlink");
  }
  // A fresh link under a temporary name, renamed over any stale one in a single step.
  const std::string temporary = linkPath_ + ".new" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0) {
    throw SystemError("symlink " + temporary);
  }
  if (::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throw SystemError("rename to " + linkPath_);
  }
}

uint32_t PtyLink::HostSendBaud() const {
  // The master reports the slave's settings as its own.
  termios settings{};
  if (::tcgetattr(master_.Get(), &settings) != 0) return 0;
  return BaudOf(::cfgetospeed(&settings));
}

uint32_t PtyLink::HostReceiveBaud() const {
  termios settings{};
  if (::tcgetattr(master_.Get(), &settings) != 0) return 0;
  // An input speed of B0 means "as the output speed".
  const speed_t speed = ::cfgetispeed(&settings);
  return BaudOf(speed == B0 ? ::cfgetospeed(&settings) : speed);
}

bool PtyLink::HostGone() const {
  if (slave_.Valid()) return false;
  pollfd master{master_.Get(), POLLIN, 0};
  return ::poll(&master, 1, 0) == 1 && (master.revents & POLLHUP) != 0;
}

}  // namespace gpsfw::simtool
