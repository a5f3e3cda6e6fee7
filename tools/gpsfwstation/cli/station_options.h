#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace gpsfw::station {

// The station's exit statuses. A service restarts the station after 1 (a failed unit, or a
// setup that may work again: a record's server not up yet), never after 2 or 3, which a
// restart cannot mend.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // a unit failed, or the station could not set up
inline constexpr int kExitUsage = 2;    // a mistake on the command line or in --config
inline constexpr int kExitRefused = 3;  // the image was refused: no port was touched

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct StationOptions {
  std::string image;
  std::vector<std::string> ports;     // named on the command line
  std::vector<std::string> patterns;  // --ports GLOB, each may be given again
  std::string logDir = ".";
  std::string report;  // --report FILE, "" for none
  std::string loader;  // --loader PATH, "" for the gpsfwload beside the station
  double unitTimeoutSeconds = 600;
  // A port that appears during --watch is left alone this long first: the device node comes
  // before its permissions and its by-path links, which udev adds a moment later.
  double settleSeconds = 1;
  // The record: an SQLite file or a PostgreSQL connection string; "" keeps none.
  std::string db;
  std::string operatorName;  // --operator; the login name when not given
  std::string stationName;   // --station; the host's name when not given
  std::string expectSha256;  // --expect-sha256: the only image this station may flash
  std::string http;          // --http ADDR:PORT: serve the dashboard; "" for none
  std::string httpToken;     // --http-token, or else $GPSFW_HTTP_TOKEN
  std::string web;           // --web DIR: the web updater page beside the dashboard
  // The unit's serial number: --serial-from's command prints it, within its time; with
  // --require-serial a port waits for it (from the command or the dashboard) untouched.
  std::string serialFrom;
  double serialTimeoutSeconds = 10;
  bool requireSerial = false;
  std::string onUpdateEnd;  // --on-update-end CMD: the factory's hook, "" for none
  double hookTimeoutSeconds = 30;
  bool watch = false;
  bool plain = false;  // plain lines even on a terminal
  bool help = false;
  bool version = false;
};

// Throws UsageError on anything it does not understand or that cannot work together.
StationOptions ParseStationOptions(const std::vector<std::string>& args);
const char* UsageText();
// Takes the dashboard's token from the environment when not given, and refuses an address
// beyond loopback without one. Throws UsageError.
void CheckHttp(const std::string& http, std::string& httpToken);
// Why `name` cannot name a station (1 to 64 printable characters), "" when it can.
std::string StationNameProblem(const std::string& name);

}  // namespace gpsfw::station
