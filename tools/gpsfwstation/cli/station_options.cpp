#include "tools/gpsfwstation/cli/station_options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "tools/gpsfwstation/cli/option_table.h"
#include "tools/gpsfwstation/cli/station_config.h"
#include "tools/gpsfwstation/http/http_address.h"
#include "tools/gpsfwstation/http/http_token.h"
#include "tools/gpsfwstation/record/row_json.h"

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

// Sets a text field of the options from an option's value.
OptionRow Text(std::vector<std::string> names, std::string StationOptions::*field,
               StationOptions& options) {
  return {std::move(names), true, [&options, field](const std::string&, const std::string& value) {
            options.*field = value;
          }};
}

OptionRow Flag(std::vector<std::string> names, bool StationOptions::*field,
               StationOptions& options) {
  return {std::move(names), false,
          [&options, field](const std::string&, const std::string&) { options.*field = true; }};
}

OptionRow Seconds(std::string name, double StationOptions::*field, bool zeroAllowed,
                  StationOptions& options) {
  return {{std::move(name)},
          true,
          [&options, field, zeroAllowed](const std::string& option, const std::string& value) {
            options.*field = ParseSeconds(option, value, zeroAllowed);
          }};
}

// The run's options, one row each.
std::vector<OptionRow> StationTable(StationOptions& o) {
  using S = StationOptions;
  return {Flag({"-h", "--help"}, &S::help, o),
          Flag({"--version"}, &S::version, o),
          Flag({"--watch"}, &S::watch, o),
          Flag({"--plain"}, &S::plain, o),
          Text({"-i", "--image"}, &S::image, o),
          {{"--ports"},
           true,
           [&o](const std::string&, const std::string& value) { o.patterns.push_back(value); }},
          Text({"--log-dir"}, &S::logDir, o),
          Text({"--report"}, &S::report, o),
          Text({"--loader"}, &S::loader, o),
          Text({"--db"}, &S::db, o),
          Text({"--operator"}, &S::operatorName, o),
          {{"--station"},
           true,
           [&o](const std::string& option, const std::string& value) {
             const std::string problem = StationNameProblem(value);
             if (!problem.empty()) throw UsageError(option + " " + problem);
             o.stationName = value;
           }},
          {{"--expect-sha256"},
           true,
           [&o](const std::string& option, const std::string& value) {
             o.expectSha256 = Sha256Text(option, value);
           }},
          Text({"--http"}, &S::http, o),
          Text({"--http-token"}, &S::httpToken, o),
          Text({"--web"}, &S::web, o),
          Seconds("--unit-timeout", &S::unitTimeoutSeconds, false, o),
          Seconds("--settle", &S::settleSeconds, true, o),
          Text({"--serial-from"}, &S::serialFrom, o),
          Seconds("--serial-timeout", &S::serialTimeoutSeconds, false, o),
          Flag({"--require-serial"}, &S::requireSerial, o),
          Text({"--on-update-end"}, &S::onUpdateEnd, o),
          Seconds("--hook-timeout", &S::hookTimeoutSeconds, false, o)};
}

// What no row names is a port, unless it looks like an option.
void TakePort(StationOptions& options, const std::string& arg) {
  if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option " + arg);
  if (arg.empty()) throw UsageError("an empty port name");
  options.ports.push_back(arg);
}

}  // namespace

void CheckHttp(const std::string& http, std::string& httpToken) {
  if (httpToken.empty()) {
    const char* token = std::getenv("GPSFW_HTTP_TOKEN");
    if (token != nullptr) httpToken = token;
  }
  if (http.empty()) return;
  // Anyone on the network could watch the line, and read its logs: only with a token.
  if (!ParseHttpAddress(http).loopback && httpToken.empty()) {
    throw UsageError("--http " + http +
                     " listens beyond this machine: give --http-token TOKEN (or set "
                     "GPSFW_HTTP_TOKEN)");
  }
  if (!httpToken.empty() && !TokenProblem(httpToken).empty()) {
    throw UsageError(TokenProblem(httpToken) + " (--http-token or GPSFW_HTTP_TOKEN)");
  }
}

// A station's name is shown on every page and table of the line and kept in every row: text a
// person can read and type, without control characters that would break a table or a log.
std::string StationNameProblem(const std::string& name) {
  constexpr size_t kMaxNameCharacters = 64;
  size_t characters = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) return "needs printable characters, not control characters";
    if ((c & 0xc0) != 0x80) ++characters;  // a UTF-8 sequence counts once
  }
  if (characters == 0) return "needs a name of 1 to 64 characters";
  if (characters > kMaxNameCharacters) {
    return "needs a name of 1 to 64 characters, not " + std::to_string(characters);
  }
  if (record::CleanText(name) != name) return "needs UTF-8 text";
  return "";
}

namespace {

void CheckTogether(StationOptions& options) {
  if (options.image.empty()) throw UsageError("-i IMAGE is required");
  if (options.logDir.empty()) throw UsageError("--log-dir needs a folder");
  if (options.ports.empty() && options.patterns.empty()) {
    throw UsageError("no port: name ports, or give --ports GLOB");
  }
  CheckHttp(options.http, options.httpToken);
  if (!options.web.empty() && options.http.empty()) throw UsageError("--web needs --http");
  // Without either, no serial could ever come: every port would wait for good.
  if (options.requireSerial && options.http.empty() && options.serialFrom.empty()) {
    throw UsageError("--require-serial needs --http (to scan serials) or --serial-from CMD");
  }
}

}  // namespace

StationOptions ParseStationOptions(const std::vector<std::string>& args) {
  StationOptions options;
  ParseOptions(WithConfig(args), StationTable(options),
               [&options](const std::string& arg) { TakePort(options, arg); });
  if (!options.help && !options.version) CheckTogether(options);
  return options;
}

}  // namespace gpsfw::station
