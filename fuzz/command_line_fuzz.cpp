// The loader's command line: arbitrary argv (the input split at its zero bytes) into options.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

// A value must be one whole argument, or the tail of one joined to its option.
bool PointsIntoAnArgument(const char* value, const std::vector<std::string>& args) {
  if (value == nullptr || value[0] == '\0') return true;
  for (const std::string& a : args) {
    if (value >= a.c_str() && value < a.c_str() + a.size()) {
      return std::strcmp(value, a.c_str() + (value - a.c_str())) == 0;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"gpsfwload"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  gpsfw::LoaderOptions options;
  const bool usable = gpsfw::ParseCommandLine(static_cast<int>(args.size()), argv.data(), options);
  if (!usable) {
    if (options.error == nullptr || options.offending == nullptr) std::abort();
    return 0;
  }
  if (options.error != nullptr) std::abort();
  // --json is the form of the check report and never comes alone.
  if (options.json && !options.check && !options.listPorts) std::abort();
  for (const char* value :
       {options.image, options.port, options.log, options.events, options.trace}) {
    if (!PointsIntoAnArgument(value, args)) std::abort();
    if (value != nullptr && std::strlen(value) > gpsfw::MaxOptionValueBytes()) std::abort();
  }
  return 0;
}
