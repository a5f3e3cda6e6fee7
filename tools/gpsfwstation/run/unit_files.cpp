#include "tools/gpsfwstation/run/unit_files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tools/gpsfwstation/record/sql_store.h"

namespace gpsfw::station {
namespace {

constexpr char kCheckStem[] = "image-check";
// File names stay well below NAME_MAX with the suffixes added to them.
constexpr size_t kMaxStem = 200;

std::string TempBase() {
  const char* dir = getenv("TMPDIR");
  return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

constexpr char kPidFile[] = "pid";

std::string ReadSmall(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

void WritePid(const std::string& dir, int pid) {
  const std::string text = std::to_string(pid) + "\n";
  const int fd =
      open((dir + "/" + kPidFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (write(fd, text.data(), text.size()) < 0) {
    // A folder without its pid is only kept longer: it is never taken for a dead one's.
  }
  close(fd);
}

// The process a folder's pid file names, 0 when it names none.
int PidOf(const std::filesystem::path& dir) {
  return std::atoi(ReadSmall(dir / kPidFile).c_str());
}

bool ProcessThere(int pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno != ESRCH);
}

// The folders that stations killed outright left in the temporary folder, once their
// loaders have ended as well. A folder without a loader's pid (the image's copy, the check's
// folder) holds no loader; a station's pid taken again by another program is no station.
void RemoveDeadStationsFolders(const std::string& base) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
    if (entry.path().filename().string().rfind("gpsfwstation.", 0) != 0) continue;
    const int station = PidOf(entry.path());
    if (station <= 0 || station == getpid() || record::StationAlive(station)) continue;
    bool loaderAlive = false;
    for (const auto& unit : std::filesystem::directory_iterator(entry.path(), ec)) {
      loaderAlive = loaderAlive || (unit.is_directory() && ProcessThere(PidOf(unit.path())));
    }
    if (!loaderAlive) std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

std::string LogNameForPort(const std::string& port) {
  std::string name = port;
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const size_t first = name.find_first_not_of('_');
  name = first == std::string::npos ? "port" : name.substr(first);
  if (name.size() > kMaxStem) name = name.substr(name.size() - kMaxStem);
  return name;
}

UnitFiles::UnitFiles(const std::string& logDir) : logDir_(logDir) {
  std::error_code error;
  std::filesystem::create_directories(logDir_, error);
  if (!std::filesystem::is_directory(logDir_)) {
    throw std::runtime_error("cannot make the log folder " + logDir_ + ": " + error.message());
  }
  std::string pattern = TempBase() + "/gpsfwstation.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder in " + TempBase() + ": " +
                             strerror(errno));
  }
  tempRoot_ = pattern;
  WritePid(tempRoot_, getpid());
  RemoveDeadStationsFolders(TempBase());
  used_.insert(std::string(kCheckStem) + ".log");
}

UnitFiles::~UnitFiles() {
  std::error_code ignored;
  std::filesystem::remove_all(tempRoot_, ignored);
  // The folders of loaders this station adopted, now that they have ended.
  RemoveDeadStationsFolders(TempBase());
}

std::string UnitFiles::CheckLog() const {
  return logDir_ + "/" + kCheckStem + ".log";
}

std::string UnitFiles::LogFor(const std::string& port, std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  const std::string base = LogNameForPort(port) + "-" + stamp;
  // Names carry their second: those of an earlier second can no longer be asked for, and a
  // station that runs for weeks keeps no name per update.
  if (stamp != usedStamp_) {
    used_ = {std::string(kCheckStem) + ".log"};
    usedStamp_ = stamp;
  }
  // The name is claimed on disk: a log of an earlier run, or of another station on the same
  // folder, is never written over.
  for (int n = 1;; ++n) {
    const std::string name = base + (n > 1 ? "-" + std::to_string(n) : "") + ".log";
    if (used_.count(name) != 0) continue;
    const std::string path = logDir_ + "/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0) close(fd);
    used_.insert(name);
    return path;
  }
}

std::string UnitFiles::NewTempDir() {
  const std::string dir = tempRoot_ + "/unit-" + std::to_string(++tempDirs_);
  if (mkdir(dir.c_str(), 0700) != 0) {
    throw std::runtime_error("cannot make " + dir + ": " + strerror(errno));
  }
  return dir;
}

void UnitFiles::NoteLoader(const std::string& dir, int pid) {
  if (!dir.empty()) WritePid(dir, pid);
}

void UnitFiles::RemoveTempDir(const std::string& dir) {
  std::error_code ignored;
  if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

}  // namespace gpsfw::station
