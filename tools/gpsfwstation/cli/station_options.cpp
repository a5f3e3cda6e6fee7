#include "tools/gpsfwstation/cli/station_options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "tools/gpsfwstation/cli/station_config.h"
#include "tools/gpsfwstation/http/http_address.h"
#include "tools/gpsfwstation/http/http_token.h"

namespace gpsfw::station {
namespace {

// Long enough for a day's shift; a longer bound is a typing mistake rather than an intent.
constexpr double kMaxSeconds = 86400;

double ParseSeconds(const std::string& option, const std::string& text, bool zeroAllowed) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  const bool usable = !text.empty() && *end == '\0' && std::isfinite(value) &&
                      (value > 0 || (zeroAllowed && value == 0)) && value <= kMaxSeconds;
  if (!usable) {
    throw UsageError(option + " needs a number of seconds up to 86400, not '" + text + "'");
  }
  return value;
}

// A SHA-256 as people copy it from a release note: 64 hex digits, either case.
std::string Sha256Text(const std::string& option, std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text.size() != 64 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
    throw UsageError(option + " needs the 64 hex digits of a SHA-256, not '" + text + "'");
  }
  return text;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  StationOptions Run() {
    while (next_ < args_.size()) Take(args_[next_++]);
    return options_;
  }

 private:
  std::string Value(const std::string& option) {
    if (next_ >= args_.size()) throw UsageError(option + " needs a value");
    return args_[next_++];
  }

  bool Flag(const std::string& arg) {
    if (arg == "-h" || arg == "--help") return options_.help = true;
    if (arg == "--version") return options_.version = true;
    if (arg == "--watch") return options_.watch = true;
    if (arg == "--plain") return options_.plain = true;
    return false;
  }

  bool WithValue(const std::string& arg) {
    if (arg == "-i" || arg == "--image") {
      options_.image = Value(arg);
    } else if (arg == "--ports") {
      options_.patterns.push_back(Value(arg));
    } else if (arg == "--log-dir") {
      options_.logDir = Value(arg);
    } else if (arg == "--report") {
      options_.report = Value(arg);
    } else if (arg == "--loader") {
      options_.loader = Value(arg);
    } else if (arg == "--db") {
      options_.db = Value(arg);
    } else if (arg == "--operator") {
      options_.operatorName = Value(arg);
    } else if (arg == "--expect-sha256") {
      options_.expectSha256 = Sha256Text(arg, Value(arg));
    } else if (arg == "--http") {
      options_.http = Value(arg);
    } else if (arg == "--http-token") {
      options_.httpToken = Value(arg);
    } else if (arg == "--unit-timeout") {
      options_.unitTimeoutSeconds = ParseSeconds(arg, Value(arg), false);
    } else if (arg == "--settle") {
      options_.settleSeconds = ParseSeconds(arg, Value(arg), true);
    } else {
      return false;
    }
    return true;
  }

  void Take(const std::string& arg) {
    if (Flag(arg) || WithValue(arg)) return;
    if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option " + arg);
    if (arg.empty()) throw UsageError("an empty port name");
    options_.ports.push_back(arg);
  }

  const std::vector<std::string>& args_;
  size_t next_ = 0;
  StationOptions options_;
};

}  // namespace

void CheckHttp(StationOptions& options) {
  if (options.httpToken.empty()) {
    const char* token = std::getenv("GPSFW_HTTP_TOKEN");
    if (token != nullptr) options.httpToken = token;
  }
  if (options.http.empty()) return;
  // Anyone on the network could watch the line, and read its logs: only with a token.
  if (!ParseHttpAddress(options.http).loopback && options.httpToken.empty()) {
    throw UsageError("--http " + options.http +
                     " listens beyond this machine: give --http-token TOKEN (or set "
                     "GPSFW_HTTP_TOKEN)");
  }
  if (!options.httpToken.empty() && !TokenProblem(options.httpToken).empty()) {
    throw UsageError(TokenProblem(options.httpToken) + " (--http-token or GPSFW_HTTP_TOKEN)");
  }
}

namespace {

void CheckTogether(StationOptions& options) {
  if (options.image.empty()) throw UsageError("-i IMAGE is required");
  if (options.logDir.empty()) throw UsageError("--log-dir needs a folder");
  if (options.ports.empty() && options.patterns.empty()) {
    throw UsageError("no port: name ports, or give --ports GLOB");
  }
  CheckHttp(options);
}

}  // namespace

StationOptions ParseStationOptions(const std::vector<std::string>& args) {
  StationOptions options = Parser(WithConfig(args)).Run();
  if (!options.help && !options.version) CheckTogether(options);
  return options;
}

}  // namespace gpsfw::station
