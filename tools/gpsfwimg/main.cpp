// gpsfwimg: makes and inspects firmware images for the loader.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/gpsfwimg/commands.h"
#include "tools/gpsfwimg/tool_support.h"

namespace {

using gpsfw::tool::kExitOk;
using gpsfw::tool::kExitRefused;
using gpsfw::tool::kExitUsage;

int Dispatch(const std::string& command, const std::vector<std::string>& args) {
  if (command == "build") return gpsfw::tool::RunBuild(args);
  if (command == "info") return gpsfw::tool::RunInfo(args);
  if (command == "sample") return gpsfw::tool::RunSample(args);
  if (command == "--version") {
    std::cout << "gpsfwimg " << GPSFW_VERSION << "\n";
    return kExitOk;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << gpsfw::tool::ManualText();
    return kExitOk;
  }
  throw gpsfw::tool::UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << gpsfw::tool::ManualText();
    return kExitUsage;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    return Dispatch(argv[1], args);
  } catch (const gpsfw::tool::UsageError& e) {
    std::cerr << "gpsfwimg: " << e.what() << " (see 'gpsfwimg --help')\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "gpsfwimg: " << e.what() << "\n";
    return kExitRefused;
  }
}
