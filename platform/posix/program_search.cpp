#include "platform/posix/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/port_name.h"

namespace gpsfw::platform {
namespace {

// What execvp() searches when the environment has no PATH.
constexpr char kDefaultSearchPath[] = "/bin:/usr/bin";

bool IsExecutableFile(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode) && ::access(path, X_OK) == 0;
}

bool RealPathOf(const char* path, char* out, size_t capacity) {
  char resolved[PATH_MAX];
  if (::realpath(path, resolved) == nullptr) return false;
  return CopyFitting(out, capacity, resolved);
}

// `directory`/`name` into `candidate`; false when it does not fit.
bool JoinEntry(const char* directory, size_t directoryLength, const char* name, char* candidate,
               size_t capacity) {
  if (directoryLength == 0) {
    directory = ".";
    directoryLength = 1;
  }
  const size_t nameLength = std::strlen(name);
  if (directoryLength + 1 + nameLength + 1 > capacity) return false;
  std::memcpy(candidate, directory, directoryLength);
  candidate[directoryLength] = '/';
  std::memcpy(candidate + directoryLength + 1, name, nameLength + 1);
  return true;
}

// The target of `link`, whole and terminated.
bool ReadLinkWhole(const char* link, char* out, size_t capacity) {
  const ssize_t n = ::readlink(link, out, capacity);
  // A target that fills the whole buffer may have been cut: a cut path names another file.
  if (n <= 0 || static_cast<size_t>(n) >= capacity) return false;
  out[n] = '\0';
  return true;
}

}  // namespace

bool FindProgram(const char* argv0, const char* searchPath, char* out, size_t capacity) {
  if (capacity > 0) out[0] = '\0';
  if (argv0 == nullptr || argv0[0] == '\0') return false;
  if (std::strchr(argv0, '/') != nullptr) {
    return IsExecutableFile(argv0) && RealPathOf(argv0, out, capacity);
  }
  const char* entry = searchPath != nullptr ? searchPath : kDefaultSearchPath;
  for (;;) {
    const char* end = std::strchr(entry, ':');
    const size_t length = end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
    char candidate[PATH_MAX];
    if (JoinEntry(entry, length, argv0, candidate, sizeof candidate) &&
        IsExecutableFile(candidate)) {
      return RealPathOf(candidate, out, capacity);
    }
    if (end == nullptr) return false;
    entry = end + 1;
  }
}

bool LocateProgram(const char* selfLink, const char* argv0, const char* searchPath, char* out,
                   size_t capacity) {
  if (capacity == 0) return false;
  if (ReadLinkWhole(selfLink, out, capacity)) return true;
  return FindProgram(argv0, searchPath, out, capacity);
}

}  // namespace gpsfw::platform
