#include "tests/support/win32_posix.h"

#include <direct.h>
#include <windows.h>

#include <cstring>

namespace {

// The tests steer the loader's temporary folder with TMPDIR; Windows takes it from TMP.
const char* WindowsName(const char* name) {
  return std::strcmp(name, "TMPDIR") == 0 ? "TMP" : nullptr;
}

// Both the C runtime's copy of the environment and the process's own, which the Win32
// calls read.
int Put(const char* name, const char* value) {
  if (_putenv_s(name, value != nullptr ? value : "") != 0) return -1;
  ::SetEnvironmentVariableA(name, value);
  return 0;
}

}  // namespace

int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
  if (const char* windowsName = WindowsName(name)) Put(windowsName, value);
  return Put(name, value);
}

int unsetenv(const char* name) {
  if (const char* windowsName = WindowsName(name)) Put(windowsName, nullptr);
  return Put(name, nullptr);
}

char* mkdtemp(char* pattern) {
  if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return nullptr;
  return _mkdir(pattern) == 0 ? pattern : nullptr;
}
