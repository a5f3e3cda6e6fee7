#include "tools/gpsfwstation/record/utc_time.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace gpsfw::station::record {

std::string UtcText(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

std::string UtcNow() {
  return UtcText(std::chrono::system_clock::now());
}

bool ParseUtc(const std::string& text, std::chrono::system_clock::time_point& when) {
  std::tm utc{};
  int ms = 0;
  int used = 0;
  const int fields =
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &utc.tm_year, &utc.tm_mon,
                  &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &used);
  if (fields != 6) return false;
  const char* rest = text.c_str() + used;
  int digits = 0;
  if (*rest == '.' && std::sscanf(rest, ".%3d%n", &ms, &digits) == 1) rest += digits;
  if (std::string(rest) != "Z") return false;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  const std::time_t seconds = timegm(&utc);
  if (seconds == static_cast<std::time_t>(-1)) return false;
  when = std::chrono::system_clock::from_time_t(seconds) + std::chrono::milliseconds(ms);
  return true;
}

}  // namespace gpsfw::station::record
