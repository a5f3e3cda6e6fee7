#include "tools/gpsfwstation/run/serial_desk.h"

#include <fcntl.h>
#include <unistd.h>

namespace gpsfw::station {
namespace {

// More than any operator scans between two turns of the loop; beyond it, a client that
// posts without end is answered but its serials wait for the loop.
constexpr size_t kMaxWaiting = 256;

}  // namespace

SerialDesk::SerialDesk() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  read_.Reset(fds[0]);
  write_.Reset(fds[1]);
}

void SerialDesk::Publish(std::map<std::string, std::string> ports) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ports_ = std::move(ports);
}

bool SerialDesk::Post(const std::string& id, const std::string& serial, std::string& port) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = ports_.find(id);
    if (found == ports_.end()) return false;
    port = found->second;
    // A later serial for the same port replaces one the loop has not taken yet.
    for (auto it = posted_.begin(); it != posted_.end();) {
      it = it->port == port ? posted_.erase(it) : it + 1;
    }
    if (posted_.size() >= kMaxWaiting) posted_.erase(posted_.begin());
    posted_.push_back({port, serial});
  }
  // A full pipe already wakes the loop: the byte is a bell, not the message.
  const char bell = 1;
  if (write_.Get() >= 0 && write(write_.Get(), &bell, 1) < 0) {
  }
  return true;
}

std::vector<PostedSerial> SerialDesk::Take() {
  char drained[64];
  while (read_.Get() >= 0 && read(read_.Get(), drained, sizeof drained) > 0) {
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<PostedSerial> taken;
  taken.swap(posted_);
  return taken;
}

}  // namespace gpsfw::station
