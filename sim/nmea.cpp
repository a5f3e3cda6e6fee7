#include "sim/nmea.h"

#include <cstdarg>
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

// A standing receiver's fix wanders by a few metres from one second to the next; the
// wander is a fixed function of the time, so equal runs send equal sentences.
struct Fix {
  unsigned latitude;   // 1/10000 minute beyond 48 deg 07'
  unsigned longitude;  // 1/10000 minute beyond 11 deg 31'
  unsigned altitude;   // decimetres
  unsigned speed;      // 1/100 knot
  unsigned course;     // 1/10 degree
  unsigned snr;        // dB-Hz of the strongest satellite
};

Fix FixAt(uint64_t sinceStartMs) {
  uint64_t x = (sinceStartMs / 1000 + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  return Fix{unsigned(300 + x % 160),  unsigned((x >> 8) % 150),   unsigned(5440 + (x >> 16) % 30),
             unsigned((x >> 24) % 40), unsigned((x >> 32) % 3600), unsigned(38 + (x >> 44) % 12)};
}

std::string Sentence(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Sentence(const char* format, ...) {
  char body[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(body, sizeof body, format, args);
  va_end(args);
  return NmeaSentence(body);
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
  const char* t = time.c_str();
  const Fix f = FixAt(sinceStartMs);
  const unsigned magnetic = (f.course + 31) % 3600;
  const unsigned kmh = f.speed * 1852 / 1000;  // 1/100 km/h
  return Sentence("GPGGA,%s,4807.%04u,N,01131.%04u,E,1,08,0.9,%u.%u,M,46.9,M,,", t, f.latitude,
                  f.longitude, f.altitude / 10, f.altitude % 10) +
         Sentence("GPGSA,A,3,04,05,09,12,17,24,25,29,,,,,1.8,0.9,1.5") +
         Sentence("GPGSV,2,1,08,04,%02u,102,%02u,05,63,286,45,09,21,047,39,12,48,163,%02u",
                  40 + f.course % 9, f.snr, f.snr - 5) +
         Sentence("GPRMC,%s,A,4807.%04u,N,01131.%04u,E,%u.%02u,%u.%u,230394,3.1,W,A", t, f.latitude,
                  f.longitude, f.speed / 100, f.speed % 100, f.course / 10, f.course % 10) +
         Sentence("GPVTG,%u.%u,T,%u.%u,M,%u.%02u,N,%u.%02u,K,A", f.course / 10, f.course % 10,
                  magnetic / 10, magnetic % 10, f.speed / 100, f.speed % 100, kmh / 100, kmh % 100);
}

}  // namespace gpsfw::sim
