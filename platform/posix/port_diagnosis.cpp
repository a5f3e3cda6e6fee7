#include "platform/port_diagnosis.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/serial_port_list.h"

namespace gpsfw::platform {
namespace {

constexpr size_t kDeviceCapacity = 1024;
constexpr int kMostHoldersNamed = 4;

void Add(PortDiagnosis* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Add(PortDiagnosis* out, const char* format, ...) {
  const size_t used = std::strlen(out->text);
  if (used + 1 >= sizeof out->text) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(out->text + used, sizeof out->text - used, format, args);
  va_end(args);
}

// The serial ports there are, without opening any of them.
void ListPorts(PortDiagnosis* out) {
  static SerialPortList list;
  if (!ListSerialPorts(kSystemPortRoots, PortProbe::kNoOpen, &list) || list.count == 0) {
    Add(out, "; no serial ports found on this host");
    return;
  }
  Add(out, "; serial ports here:");
  for (size_t i = 0; i < list.count; ++i)
    Add(out, "%s %s", i == 0 ? "" : ",", list.ports[i].device);
}

// The name of group `gid` from /etc/group (the loader links statically, where the C
// library's group lookup is not at hand); "dialout", the usual owner, when not found.
void GroupName(gid_t gid, char* name, size_t capacity) {
  std::snprintf(name, capacity, "dialout");
  std::FILE* groups = std::fopen("/etc/group", "r");
  if (groups == nullptr) return;
  char line[1024];
  while (std::fgets(line, sizeof line, groups) != nullptr) {
    char* first = std::strchr(line, ':');
    char* second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
    if (second == nullptr) continue;
    if (std::strtoul(second + 1, nullptr, 10) != static_cast<unsigned long>(gid)) continue;
    const size_t length = static_cast<size_t>(first - line);
    if (length == 0 || length >= capacity) continue;
    std::memcpy(name, line, length);
    name[length] = '\0';
    break;
  }
  std::fclose(groups);
}

void AddGroupHint(PortDiagnosis* out, gid_t gid) {
  char name[64];
  GroupName(gid, name, sizeof name);
  Add(out,
      "; the device belongs to group '%s': join it with 'sudo usermod -aG %s $USER', then log "
      "in again",
      name, name);
}

// True when descriptor `fd` of process `pid` is the master of pseudo-terminal `device`
// (/dev/pts/N): the kernel tells the pty's number as "tty-index" in the descriptor's fdinfo.
bool IsMasterOf(long pid, const char* fd, const char* device) {
  const char* number = std::strrchr(device, '/');
  if (std::strncmp(device, "/dev/pts/", 9) != 0 || number == nullptr) return false;
  char path[320];
  std::snprintf(path, sizeof path, "/proc/%ld/fdinfo/%s", pid, fd);
  std::FILE* info = std::fopen(path, "r");
  if (info == nullptr) return false;
  char line[128];
  bool master = false;
  while (std::fgets(line, sizeof line, info) != nullptr) {
    long index = -1;
    if (std::sscanf(line, "tty-index: %ld", &index) == 1) {
      master = index == std::strtol(number + 1, nullptr, 10);
    }
  }
  std::fclose(info);
  return master;
}

// Who is counted among a port's holders. A port that is busy names whoever holds it. A port
// the loader could open names only the programs that may take the receiver's answers: the
// process at the other end of a pseudo-terminal (a simulated receiver) holds its master too,
// and is the peer the loader talks to.
enum class Holders { kAll, kOthersThanThePeer };

// True when process `pid` has `device` open, from /proc/PID/fd, and counts as `which` asks.
bool Holds(long pid, const char* device, Holders which) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/fd", pid);
  DIR* fds = ::opendir(path);
  if (fds == nullptr) return false;
  bool holds = false;
  bool peer = false;
  while (const dirent* fd = ::readdir(fds)) {
    char link[352];
    char target[kDeviceCapacity];
    std::snprintf(link, sizeof link, "%s/%s", path, fd->d_name);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::strcmp(target, device) == 0) holds = true;
    if (std::strstr(target, "ptmx") != nullptr && IsMasterOf(pid, fd->d_name, device)) peer = true;
  }
  ::closedir(fds);
  return holds && !(peer && which == Holders::kOthersThanThePeer);
}

// "PID 123 (minicom), PID 456 (gpsd)": the processes other than this one that hold `device`
// open; the count.
int ListHolders(const char* device, Holders which, char* text, size_t capacity) {
  if (capacity > 0) text[0] = '\0';
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  int named = 0;
  const long self = static_cast<long>(::getpid());
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self || named == kMostHoldersNamed) continue;
    if (!Holds(pid, device, which)) continue;
    char path[64];
    char name[64] = "?";
    std::snprintf(path, sizeof path, "/proc/%ld/comm", pid);
    if (std::FILE* comm = std::fopen(path, "r")) {
      if (std::fgets(name, sizeof name, comm) != nullptr) name[std::strcspn(name, "\n")] = '\0';
      std::fclose(comm);
    }
    const size_t used = std::strlen(text);
    if (used + 1 < capacity) {
      std::snprintf(text + used, capacity - used, "%sPID %ld (%s)", named == 0 ? "" : ", ", pid,
                    name);
    }
    ++named;
  }
  ::closedir(proc);
  return named;
}

void AddHolders(PortDiagnosis* out, const char* device) {
  char holders[256];
  if (ListHolders(device, Holders::kAll, holders, sizeof holders) > 0) {
    Add(out, "; held by %s", holders);
  }
}

// Opens the device as the loader does, to learn which step refuses it.
void Probe(PortDiagnosis* out, const char* device, const struct stat& info) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    Add(out, ": %s", std::strerror(error));
    if (error == EACCES || error == EPERM) {
      out->code = "port_permission";
      AddGroupHint(out, info.st_gid);
    } else if (error == EBUSY) {
      out->code = "port_busy";
      AddHolders(out, device);
    }
    return;
  }
  if (!::isatty(fd)) {
    out->code = "not_a_serial_port";
    Add(out, ": it is not a serial port (a device that is no terminal)");
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    out->code = "port_busy";
    Add(out, ": in use by another program");
    AddHolders(out, device);
  } else {
    Add(out, ": its line settings were refused");
  }
  ::close(fd);
}

}  // namespace

void DiagnosePort(const PortTarget& port, PortDiagnosis* out) {
  *out = PortDiagnosis{};
  if (!port.fits) {
    Add(out, "serial port '%s' cannot be opened: the name is too long", port.given);
    return;
  }
  const char* device = port.device;
  Add(out, "serial port '%s'", port.given);
  if (std::strcmp(device, port.given) != 0) Add(out, " (%s)", device);
  struct stat info {};
  if (::stat(device, &info) != 0) {
    const int error = errno;
    out->code = error == ENOENT ? "port_not_found" : "port_unusable";
    Add(out, " cannot be opened: %s", std::strerror(error));
    if (port.lacksColon) Add(out, "; '%s:' (with its colon) names a port", port.given);
    if (error == ENOENT) ListPorts(out);
    return;
  }
  if (!S_ISCHR(info.st_mode)) {
    out->code = "not_a_serial_port";
    Add(out, " cannot be opened: it is not a serial port (no character device)");
    return;
  }
  Add(out, " cannot be opened");
  Probe(out, device, info);
}

int DescribePortHolders(const char* device, char* text, size_t capacity) {
  if (capacity > 0) text[0] = '\0';
  char resolved[PATH_MAX];
  // /proc names the device itself, not the link the port was given by.
  const char* canonical = ::realpath(device, resolved) != nullptr ? resolved : device;
  return ListHolders(canonical, Holders::kOthersThanThePeer, text, capacity);
}

}  // namespace gpsfw::platform
