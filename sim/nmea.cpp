#include "sim/nmea.h"

#include <cstdio>

namespace gpsfw::sim {
namespace {

// The time of day of the first fix, in hundredths of a second.
constexpr uint64_t kFirstFixCs = ((12 * 60 + 35) * 60 + 19) * uint64_t{100};
constexpr uint64_t kDayCs = 24 * 60 * 60 * uint64_t{100};

std::string TimeOfDay(uint64_t sinceStartMs) {
  const uint64_t cs = (kFirstFixCs + sinceStartMs / 10) % kDayCs;
  const uint64_t seconds = cs / 100;
  char text[16];
  std::snprintf(text, sizeof text, "%02u%02u%02u.%02u", unsigned(seconds / 3600),
                unsigned(seconds / 60 % 60), unsigned(seconds % 60), unsigned(cs % 100));
  return text;
}

}  // namespace

std::string NmeaSentence(const std::string& body) {
  uint8_t sum = 0;
  for (char c : body) sum ^= static_cast<uint8_t>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

std::string NmeaBurst(uint64_t sinceStartMs) {
  const std::string time = TimeOfDay(sinceStartMs);
  return NmeaSentence("GPGGA," + time + ",4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,") +
         NmeaSentence("GPGSA,A,3,04,05,09,12,17,24,25,29,,,,,1.8,0.9,1.5") +
         NmeaSentence("GPRMC," + time + ",A,4807.0380,N,01131.0000,E,0.02,54.7,230394,3.1,W,A") +
         NmeaSentence("GPVTG,54.7,T,57.8,M,0.02,N,0.04,K,A");
}

}  // namespace gpsfw::sim
