#include "tools/gpsfwstation/run/loader_environment.h"

#include <cstring>

extern char** environ;

namespace gpsfw::station {

std::vector<std::string> LoaderEnvironment(const std::string& tmpDir) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TMPDIR=", 7) != 0) env.emplace_back(*entry);
  }
  env.push_back("TMPDIR=" + tmpDir);
  return env;
}

}  // namespace gpsfw::station
