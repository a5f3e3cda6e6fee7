#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace gpsfw::station {

// Orders names as people count them: a run of digits compares as a number, so gps2 comes
// before gps10 and ttyUSB9 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b);

struct PortChange {
  std::string path;
  bool appeared = false;  // false: it went away
};

// The ports that match a list of patterns (shell globs such as /dev/ttyUSB* or plain
// paths), and, once armed, every port that appears or goes away, through inotify on the
// patterns' folders. A folder that does not exist yet (/dev/serial/by-path appears with the
// first USB serial adapter) is waited for through the nearest folder above it that exists.
class PortWatch {
 public:
  explicit PortWatch(std::vector<std::string> patterns);

  // Every path that matches one of the patterns now, in order, each once.
  static std::vector<std::string> Expand(const std::vector<std::string>& patterns);
  // Starts watching; the ports present now come back as appearances. Throws
  // std::runtime_error when inotify cannot be had, or a pattern has a wildcard in a folder.
  std::vector<PortChange> Arm();
  int Fd() const { return fd_.Get(); }
  // The changes behind the events that are waiting (reads without blocking).
  std::vector<PortChange> Take();

 private:
  struct Pattern {
    std::string glob;
    std::string folder;   // the folder the ports appear in
    std::string name;     // the glob of the last component
    std::string watched;  // the folder watched now: `folder` or one above it
    std::set<std::string> present;
  };

  void Watch(Pattern& pattern, std::vector<PortChange>& changes);
  void Rescan(Pattern& pattern, std::vector<PortChange>& changes);
  void OnEvent(const std::string& folder, unsigned mask, const std::string& name,
               std::vector<PortChange>& changes);
  void ForgetAll(Pattern& pattern, std::vector<PortChange>& changes);

  std::vector<Pattern> patterns_;
  platform::UniqueFd fd_;
  std::map<int, std::string> folders_;  // watch descriptor -> folder
};

}  // namespace gpsfw::station
