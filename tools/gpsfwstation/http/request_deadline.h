#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace gpsfw::station {

// Cuts a connection whose request has not come whole within a bound, counted from when it
// connected or had its last answer. The idle bound alone lets a client that trickles its
// header (a byte every two seconds) hold its place and its thread for hours.
class RequestDeadline {
 public:
  explicit RequestDeadline(std::chrono::milliseconds bound);
  ~RequestDeadline();

  // The connection `key` (its socket `fd`) now waits for a request.
  void Arm(const void* key, int fd);
  // Its request came whole, or it is closing: its socket is never touched again.
  void Disarm(const void* key);

 private:
  void Run();

  std::chrono::milliseconds bound_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<const void*, std::pair<int, std::chrono::steady_clock::time_point>> armed_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace gpsfw::station
