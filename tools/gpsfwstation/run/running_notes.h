#pragma once

#include <string>
#include <vector>

namespace gpsfw::station {

// A loader that a station killed outright left running: it still flashes its receiver.
struct LeftLoader {
  int pid = 0;
  std::string port;
  std::string logPath;
  std::string recordId;
  std::string tmpDir;
  double startEpoch = 0;  // when its update started, in seconds since 1970
  std::string notePath;
};

// One small note per running loader in the log folder, which outlives the station (a
// service's /tmp may not): a station killed outright leaves its loaders running, and the
// next station on the folder finds them there, waits for them instead of flashing their
// ports again, and completes their rows from their logs.
class RunningNotes {
 public:
  explicit RunningNotes(std::string logDir) : logDir_(std::move(logDir)) {}

  // Notes a loader this station runs; "" when the note cannot be written (the loader only
  // cannot be adopted then).
  std::string Write(const LeftLoader& loader) const;
  static void Remove(const std::string& notePath);
  // The loaders that dead stations of this host left running, their notes made this
  // station's. Notes of loaders that have ended are removed.
  std::vector<LeftLoader> TakeOver() const;

 private:
  std::string logDir_;
};

// Whether the loader `pid` still runs: the process is there and, where /proc tells, it is a
// loader writing `logPath` (a pid taken again by another program is not).
bool LoaderRuns(int pid, const std::string& logPath);
// The outcome a loader wrote last in its log: its "RetCode" line; false when there is none.
bool ReturnCodeInLog(const std::string& logPath, int& code);
// The device behind a port name: links and /dev names of one device give the same key.
std::string DeviceKey(const std::string& port);

}  // namespace gpsfw::station
