#pragma once

#include <ctime>
#include <set>
#include <string>

namespace gpsfw::station {

// The log file name of a port: its path with every '/' made '_' and the leading ones
// dropped (/dev/ttyUSB0 -> dev_ttyUSB0), so that no port name can reach out of the folder.
std::string LogNameForPort(const std::string& port);

// Where the units write: one log per unit in the log folder (created when missing), and a
// private temporary folder per unit under a folder of the station's own (a unit's folder is
// removed when its update ends, the station's at its end).
class UnitFiles {
 public:
  // Throws std::runtime_error when a folder cannot be made.
  explicit UnitFiles(const std::string& logDir);
  ~UnitFiles();
  UnitFiles(const UnitFiles&) = delete;
  UnitFiles& operator=(const UnitFiles&) = delete;

  // The log of the check of the image.
  std::string CheckLog() const;
  // The log of an update that starts on `port` at `when`: <name>-<UTC time>.log, with -2, -3...
  // when that is taken. The file is created here, empty, so that no earlier log (of this
  // station, an earlier run or another station on the folder) is ever written over.
  std::string LogFor(const std::string& port, std::time_t when);
  // A fresh folder for a unit's TMPDIR (the loader keeps its copy of the SFLD there).
  std::string NewTempDir();
  // Removes a unit's folder once its loader has ended: a station that watches for days
  // keeps no folder per receiver it flashed.
  static void RemoveTempDir(const std::string& dir);
  // Notes the loader that uses a unit's folder: a station killed outright leaves its loaders
  // running, and their folders are kept until they have ended too.
  static void NoteLoader(const std::string& dir, int pid);

 private:
  std::string logDir_;
  std::string tempRoot_;
  int tempDirs_ = 0;
  std::set<std::string> used_;  // the log file names given out in the second of usedStamp_
  std::string usedStamp_;
};

}  // namespace gpsfw::station
