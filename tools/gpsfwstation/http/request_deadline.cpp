#include "tools/gpsfwstation/http/request_deadline.h"

#include <sys/socket.h>

namespace gpsfw::station {
namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(250);

}  // namespace

RequestDeadline::RequestDeadline(std::chrono::milliseconds bound)
    : bound_(bound), thread_([this] { Run(); }) {}

RequestDeadline::~RequestDeadline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void RequestDeadline::Arm(const void* key, int fd) {
  if (fd < 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  armed_[key] = {fd, std::chrono::steady_clock::now() + bound_};
}

void RequestDeadline::Disarm(const void* key) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_.erase(key);
}

// The server closes a socket only after its connection has been disarmed, which waits for
// this lock: a socket shut down here is still the connection's own.
void RequestDeadline::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kLookEvery);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = armed_.begin(); it != armed_.end();) {
      if (now < it->second.second) {
        ++it;
        continue;
      }
      // The connection's own thread sees its socket end and closes it.
      shutdown(it->second.first, SHUT_RDWR);
      it = armed_.erase(it);
    }
  }
}

}  // namespace gpsfw::station
