#include "tools/gpsfwstation/run/port_watch.h"
#include "tools/gpsfwstation/record/path_name.h"

#include <algorithm>
#include <cctype>

#include <errno.h>
#include <fnmatch.h>
#include <glob.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace gpsfw::station {
namespace {

// Ports come and go as entries of their folder: device nodes are created and removed, udev
// renames its links into place, a simulator's link is a symlink created and unlinked.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kGoneMask = IN_DELETE | IN_MOVED_FROM;
constexpr uint32_t kSelfGoneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

bool HasWildcard(const std::string& text) {
  return text.find_first_of("*?[") != std::string::npos;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The matches in the order a person counts the fixtures: gps2 before gps10.
std::vector<std::string> Glob(const std::string& pattern) {
  glob_t found{};
  std::vector<std::string> paths;
  if (glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  std::sort(paths.begin(), paths.end(), NaturalLess);
  return paths;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (!digitA || !digitB) {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
      continue;
    }
    // Two numbers: the shorter one without its leading zeros is the smaller.
    const size_t endA = a.find_first_not_of("0123456789", i);
    const size_t endB = b.find_first_not_of("0123456789", j);
    std::string numA = a.substr(i, endA == std::string::npos ? std::string::npos : endA - i);
    std::string numB = b.substr(j, endB == std::string::npos ? std::string::npos : endB - j);
    const std::string trimmedA = numA.substr(std::min(numA.find_first_not_of('0'), numA.size()));
    const std::string trimmedB = numB.substr(std::min(numB.find_first_not_of('0'), numB.size()));
    if (trimmedA.size() != trimmedB.size()) return trimmedA.size() < trimmedB.size();
    if (trimmedA != trimmedB) return trimmedA < trimmedB;
    if (numA != numB) return numA < numB;
    i += numA.size();
    j += numB.size();
  }
  return a.size() - i < b.size() - j;
}

PortWatch::PortWatch(std::vector<std::string> patterns) {
  for (std::string& glob : patterns) {
    Pattern pattern;
    pattern.folder = FolderOf(glob);
    pattern.name = record::BaseName(glob);
    pattern.glob = std::move(glob);
    patterns_.push_back(std::move(pattern));
  }
}

std::vector<std::string> PortWatch::Expand(const std::vector<std::string>& patterns) {
  std::vector<std::string> ports;
  std::set<std::string> seen;
  for (const std::string& pattern : patterns) {
    for (std::string& path : Glob(pattern)) {
      if (seen.insert(path).second) ports.push_back(std::move(path));
    }
  }
  return ports;
}

std::vector<PortChange> PortWatch::Arm() {
  for (const Pattern& pattern : patterns_) {
    if (HasWildcard(pattern.folder)) {
      throw std::runtime_error("--watch needs the wildcards in the last part of a pattern: " +
                               pattern.glob);
    }
  }
  fd_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd_.Valid()) throw std::runtime_error(std::string("inotify: ") + strerror(errno));
  std::vector<PortChange> changes;
  for (Pattern& pattern : patterns_) Watch(pattern, changes);
  return changes;
}

// Watches the pattern's folder, or the nearest folder above it that exists, then looks at
// what is there already: entries made before the watch began send no event.
void PortWatch::Watch(Pattern& pattern, std::vector<PortChange>& changes) {
  std::string folder = pattern.folder;
  while (!IsFolder(folder) && folder != "/" && folder != ".") folder = FolderOf(folder);
  const int wd = inotify_add_watch(fd_.Get(), folder.c_str(), kWatchMask);
  if (wd < 0) {
    throw std::runtime_error("cannot watch " + folder + ": " + strerror(errno));
  }
  folders_[wd] = folder;
  pattern.watched = folder;
  if (folder == pattern.folder) Rescan(pattern, changes);
}

void PortWatch::Rescan(Pattern& pattern, std::vector<PortChange>& changes) {
  std::set<std::string> now;
  for (std::string& path : Glob(pattern.glob)) now.insert(std::move(path));
  for (const std::string& path : pattern.present) {
    if (now.count(path) == 0) changes.push_back({path, false});
  }
  for (const std::string& path : now) {
    if (pattern.present.count(path) == 0) changes.push_back({path, true});
  }
  pattern.present = std::move(now);
}

void PortWatch::ForgetAll(Pattern& pattern, std::vector<PortChange>& changes) {
  for (const std::string& path : pattern.present) changes.push_back({path, false});
  pattern.present.clear();
}

void PortWatch::OnEvent(const std::string& folder, unsigned mask, const std::string& name,
                        std::vector<PortChange>& changes) {
  for (Pattern& pattern : patterns_) {
    if (pattern.watched != folder) continue;
    if (pattern.watched != pattern.folder) {
      // A folder on the way to the pattern's may have appeared: go as deep as exists now.
      Watch(pattern, changes);
      continue;
    }
    if ((mask & kSelfGoneMask) != 0) {
      ForgetAll(pattern, changes);
      Watch(pattern, changes);
    } else if (!name.empty() && fnmatch(pattern.name.c_str(), name.c_str(), FNM_PERIOD) == 0) {
      const std::string path = pattern.folder == "." ? name : pattern.folder + "/" + name;
      const bool gone = (mask & kGoneMask) != 0;
      if (gone ? pattern.present.erase(path) > 0 : pattern.present.insert(path).second) {
        changes.push_back({path, !gone});
      }
    }
  }
}

std::vector<PortChange> PortWatch::Take() {
  std::vector<PortChange> changes;
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = read(fd_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        for (Pattern& pattern : patterns_) Rescan(pattern, changes);
        continue;
      }
      const auto folder = folders_.find(event->wd);
      if (folder == folders_.end()) continue;
      const std::string where = folder->second;
      if ((event->mask & IN_IGNORED) != 0) folders_.erase(folder);
      OnEvent(where, event->mask, event->len > 0 ? event->name : "", changes);
    }
  }
  return changes;
}

}  // namespace gpsfw::station
