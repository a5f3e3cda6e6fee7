#pragma once

#include <functional>
#include <string>
#include <vector>

namespace gpsfw::station {

// One option of a command: the names it answers to, whether a value follows it, and what it
// does with that value ("" for a flag). `take` throws UsageError for a value it refuses.
struct OptionRow {
  std::vector<std::string> names;
  bool takesValue = false;
  std::function<void(const std::string& name, const std::string& value)> take;
  // Nothing after it is read (a command's --help that answers at once).
  bool endsParsing = false;
};

// Reads `args` against a command's table: a missing value is "OPTION needs a value"; every
// argument that no row names goes to `other`, which takes it (a port) or throws the command's
// own refusal.
void ParseOptions(const std::vector<std::string>& args, const std::vector<OptionRow>& rows,
                  const std::function<void(const std::string& arg)>& other);

}  // namespace gpsfw::station
