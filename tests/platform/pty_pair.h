#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"

namespace gpsfw::test {

// A pseudo-terminal: the loader's driver opens the slave by its path, the test plays the
// receiver on the master.
class PtyPair {
 public:
  PtyPair() {
    int master = -1;
    int slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    master_.Reset(master);
    close(slave);  // only the driver under test holds the slave
    slavePath_ = name;
  }

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_.Get(); }
  void CloseMaster() { master_.Reset(); }

  void Send(const std::string& bytes) const {
    if (write(master_.Get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("write to the pty master failed");
    }
  }

  // What the slave sent, waiting up to a second for the first byte.
  std::string Receive() const {
    pollfd entry{master_.Get(), POLLIN, 0};
    if (poll(&entry, 1, 1000) != 1) return "";
    char buffer[256];
    const ssize_t n = read(master_.Get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

  // The slave's line settings, which the master reports as its own.
  termios SlaveSettings() const {
    termios settings{};
    if (tcgetattr(master_.Get(), &settings) != 0) throw std::runtime_error("tcgetattr failed");
    return settings;
  }

 private:
  platform::UniqueFd master_;
  std::string slavePath_;
};

}  // namespace gpsfw::test
