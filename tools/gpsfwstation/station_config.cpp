#include "tools/gpsfwstation/station_config.h"

#include <fstream>
#include <set>

#include "tools/gpsfwstation/station_options.h"

namespace gpsfw::station {
namespace {

// Keys that stand for an option with a value, and those that stand for a flag.
const std::set<std::string> kValueKeys = {"image",      "ports",        "db",      "http",
                                          "http-token", "operator",     "log-dir", "report",
                                          "loader",     "unit-timeout", "settle",  "expect-sha256"};
const std::set<std::string> kFlagKeys = {"watch", "plain"};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool Truth(const std::string& value, bool& truth) {
  if (value == "yes" || value == "true" || value == "1" || value == "on") return truth = true;
  if (value == "no" || value == "false" || value == "0" || value == "off") {
    truth = false;
    return true;
  }
  return false;
}

std::vector<std::string> ConfigArguments(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw UsageError("--config: cannot read " + path);
  std::vector<std::string> args;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) throw UsageError(where + "not key=value: '" + line + "'");
    const std::string key = Trimmed(line.substr(0, equals));
    const std::string value = Trimmed(line.substr(equals + 1));
    bool truth = false;
    if (kFlagKeys.count(key) != 0) {
      if (!Truth(value, truth))
        throw UsageError(where + key + " is yes or no, not '" + value + "'");
      if (truth) args.push_back("--" + key);
    } else if (kValueKeys.count(key) != 0) {
      if (value.empty()) throw UsageError(where + key + " needs a value");
      args.push_back("--" + key);
      args.push_back(value);
    } else {
      throw UsageError(where + "unknown key '" + key + "'");
    }
  }
  if (in.bad()) throw UsageError("--config: cannot read " + path);
  return args;
}

}  // namespace

std::vector<std::string> WithConfig(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  std::vector<std::string> fromFile;
  bool seen = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string path;
    if (args[i] == "--config") {
      if (i + 1 >= args.size()) throw UsageError("--config needs a value");
      path = args[++i];
    } else if (args[i].rfind("--config=", 0) == 0) {
      path = args[i].substr(9);
    } else {
      rest.push_back(args[i]);
      continue;
    }
    if (seen) throw UsageError("--config is given twice");
    seen = true;
    fromFile = ConfigArguments(path);
  }
  fromFile.insert(fromFile.end(), rest.begin(), rest.end());
  return fromFile;
}

}  // namespace gpsfw::station
