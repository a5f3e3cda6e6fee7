#include "tools/gpsfwstation/cli/station_config.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <set>
#include <sstream>

#include "tools/gpsfwstation/cli/station_options.h"

namespace gpsfw::station {
namespace {

// Keys that stand for an option with a value, and those that stand for a flag.
const std::set<std::string> kValueKeys = {
    "image",    "ports",         "db",          "http",        "http-token",
    "operator", "log-dir",       "report",      "loader",      "unit-timeout",
    "settle",   "expect-sha256", "web",         "serial-from", "serial-timeout",
    "station",  "on-update-end", "hook-timeout"};
const std::set<std::string> kFlagKeys = {"watch", "plain", "require-serial"};
// Keys that may be given again, as their option may: each adds to the others.
const std::set<std::string> kRepeatable = {"ports"};
// A configuration is a few hundred bytes; anything this large is not one.
constexpr off_t kMaxConfig = 1 << 20;

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

// The value without a comment after it: '#' after a blank starts one ("line1 # night shift"),
// a '#' inside a value ("fw#2.bin") does not.
std::string WithoutComment(const std::string& value) {
  for (size_t at = value.find('#'); at != std::string::npos; at = value.find('#', at + 1)) {
    if (at == 0 || value[at - 1] == ' ' || value[at - 1] == '\t')
      return Trimmed(value.substr(0, at));
  }
  return value;
}

// The file's text. Only a regular file is read: a FIFO or a device could hold the station
// (a service) for ever, so it is opened without blocking and refused.
std::string ConfigText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw UsageError("--config: cannot read " + path + ": " + strerror(errno));
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::string text;
  char buffer[4096];
  for (ssize_t n = 0; regular && st.st_size <= kMaxConfig &&
                      ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR));) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  const int readError = errno;
  close(fd);
  if (!regular) throw UsageError("--config: " + path + " is not a regular file");
  if (st.st_size > kMaxConfig) throw UsageError("--config: " + path + " is too large to be one");
  if (static_cast<off_t>(text.size()) < st.st_size) {
    throw UsageError("--config: cannot read " + path + ": " + strerror(readError));
  }
  return text;
}

std::vector<std::string> ConfigArguments(const std::string& path) {
  std::istringstream in(ConfigText(path));
  std::vector<std::string> args;
  std::map<std::string, int> given;  // key -> the line it was first given on
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) throw UsageError(where + "not key=value: '" + line + "'");
    const std::string key = Trimmed(line.substr(0, equals));
    const std::string value = WithoutComment(Trimmed(line.substr(equals + 1)));
    if (kFlagKeys.count(key) == 0 && kValueKeys.count(key) == 0) {
      throw UsageError(where + "unknown key '" + key + "'");
    }
    const auto first = given.emplace(key, number);
    if (!first.second && kRepeatable.count(key) == 0) {
      throw UsageError(where + key + " is given twice, on lines " +
                       std::to_string(first.first->second) + " and " + std::to_string(number));
    }
    bool truth = false;
    if (kFlagKeys.count(key) != 0) {
      if (!Truth(value, truth))
        throw UsageError(where + key + " is yes or no, not '" + value + "'");
      if (truth) args.push_back("--" + key);
    } else {
      if (value.empty()) throw UsageError(where + key + " needs a value");
      args.push_back("--" + key);
      args.push_back(value);
    }
  }
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
