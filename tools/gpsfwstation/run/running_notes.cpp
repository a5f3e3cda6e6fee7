#include "tools/gpsfwstation/run/running_notes.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/gpsfwstation/record/sql_store.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

constexpr char kSuffix[] = ".running";

std::string Prefix() {
  return ".gpsfwstation-" + HostName() + "-";
}

std::string NoteText(const LeftLoader& l, int stationPid) {
  std::ostringstream text;
  text.precision(17);
  text << "station " << stationPid << "\nloader " << l.pid << "\nstart " << l.startEpoch
       << "\nport " << l.port << "\nlog " << l.logPath << "\nrow " << l.recordId << "\ntmp "
       << l.tmpDir << "\n";
  return text.str();
}

// Written beside and renamed: a note is whole or absent.
bool WriteNote(const std::string& path, const std::string& text) {
  const std::string part = path + ".part";
  const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = close(fd) == 0;
  if (whole && closed && rename(part.c_str(), path.c_str()) == 0) return true;
  unlink(part.c_str());
  return false;
}

bool ReadNote(const std::string& path, LeftLoader& loader, int& stationPid) {
  std::ifstream in(path);
  stationPid = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string key = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (key == "station") stationPid = std::atoi(value.c_str());
    if (key == "loader") loader.pid = std::atoi(value.c_str());
    if (key == "start") loader.startEpoch = std::atof(value.c_str());
    if (key == "port") loader.port = value;
    if (key == "log") loader.logPath = value;
    if (key == "row") loader.recordId = value;
    if (key == "tmp") loader.tmpDir = value;
  }
  loader.notePath = path;
  return loader.pid > 0 && !loader.port.empty() && !loader.logPath.empty();
}

}  // namespace

std::string RunningNotes::Write(const LeftLoader& loader) const {
  const std::string path = logDir_ + "/" + Prefix() + std::to_string(loader.pid) + kSuffix;
  return WriteNote(path, NoteText(loader, static_cast<int>(getpid()))) ? path : "";
}

void RunningNotes::Remove(const std::string& notePath) {
  if (!notePath.empty()) unlink(notePath.c_str());
}

std::vector<LeftLoader> RunningNotes::TakeOver() const {
  std::vector<LeftLoader> left;
  const std::string prefix = Prefix();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(logDir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || entry.path().extension() != kSuffix) continue;
    LeftLoader loader;
    int stationPid = 0;
    const bool read = ReadNote(entry.path().string(), loader, stationPid);
    if (read && stationPid != getpid() && record::StationAlive(stationPid)) continue;
    if (!read || !LoaderRuns(loader.pid, loader.logPath)) {
      Remove(entry.path().string());  // its row is closed from its log with the record's others
      continue;
    }
    if (WriteNote(loader.notePath, NoteText(loader, static_cast<int>(getpid())))) {
      left.push_back(loader);
    }
  }
  return left;
}

bool LoaderRuns(int pid, const std::string& logPath) {
  if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH)) return false;
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  if (!in) return access("/proc/self", F_OK) != 0;  // no /proc: trust the pid
  std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A zombie has no command line left: it has ended.
  return args.find(std::string(1, '\0') + logPath + '\0') != std::string::npos;
}

bool ReturnCodeInLog(const std::string& logPath, int& code) {
  std::ifstream in(logPath, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  constexpr std::streamoff kTail = 4096;
  in.seekg(size > kTail ? size - kTail : 0);
  const std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string tag = "RetCode: ";
  const size_t at = tail.rfind(tag);
  if (at == std::string::npos) return false;
  code = std::atoi(tail.c_str() + at + tag.size());
  return true;
}

std::string DeviceKey(const std::string& port) {
  struct stat st {};
  if (stat(port.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
    return "device " + std::to_string(static_cast<unsigned long long>(st.st_rdev));
  }
  char resolved[PATH_MAX];
  if (realpath(port.c_str(), resolved) != nullptr) return std::string("path ") + resolved;
  return "name " + port;
}

}  // namespace gpsfw::station
