#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace gpsfw::station {

// A serial scanned at the dashboard, for one port.
struct PostedSerial {
  std::string port;
  std::string serial;
};

// Where the dashboard's web server leaves the serials it is given, for the station's loop to
// take. The server's threads never touch the board: they look the page's id up among the ids
// the loop last published, leave the serial here and wake the loop through a pipe it polls.
class SerialDesk {
 public:
  SerialDesk();
  SerialDesk(const SerialDesk&) = delete;
  SerialDesk& operator=(const SerialDesk&) = delete;

  // The end the station's poll waits on; -1 when the pipe could not be made.
  int Fd() const { return read_.Get(); }
  // From the loop: each id the page may name (a unit's id, a port and its base name), with
  // the port it stands for.
  void Publish(std::map<std::string, std::string> ports);
  // From a server thread: false when no port goes by `id`; else `port` is the one it names.
  bool Post(const std::string& id, const std::string& serial, std::string& port);
  // From the loop: the serials posted since it last took them, oldest first.
  std::vector<PostedSerial> Take();

 private:
  platform::UniqueFd read_;
  platform::UniqueFd write_;
  std::mutex mutex_;
  std::map<std::string, std::string> ports_;
  std::vector<PostedSerial> posted_;
};

}  // namespace gpsfw::station
