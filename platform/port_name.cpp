#include "platform/port_name.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace gpsfw::platform {
namespace {

struct FamilyPrefix {
  PortFamily family;
  const char* prefix;  // matched without regard to case, as port names are on the handheld
};

constexpr FamilyPrefix kFamilyPrefixes[] = {
    {PortFamily::kCom, "COM"},
    {PortFamily::kGps, "GPS"},
};

// Larger numbers are not port names but paths that happen to look like one; the bound also
// keeps the number from overflowing.
constexpr uint32_t kMaxPortNumber = 9999;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::toupper(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}

// The n of "n:" ending the name, or 0 when the rest is not a port number with its colon.
uint32_t PortNumber(const char* rest) {
  uint32_t number = 0;
  const char* digit = rest;
  for (; std::isdigit(static_cast<unsigned char>(*digit)); ++digit) {
    number = number * 10 + static_cast<uint32_t>(*digit - '0');
    if (number > kMaxPortNumber) return 0;
  }
  if (digit == rest || digit[0] != ':' || digit[1] != '\0') return 0;
  return number;
}

}  // namespace

bool ParsePortName(const char* name, PortName* port) {
  for (const FamilyPrefix& family : kFamilyPrefixes) {
    if (!StartsWithNoCase(name, family.prefix)) continue;
    const uint32_t number = PortNumber(name + std::strlen(family.prefix));
    if (number == 0) return false;
    *port = PortName{family.family, number};
    return true;
  }
  return false;
}

bool CopyFitting(char* out, size_t capacity, const char* text) {
  if (capacity == 0) return false;
  const int written = std::snprintf(out, capacity, "%s", text);
  if (written >= 0 && static_cast<size_t>(written) < capacity) return true;
  out[0] = '\0';
  return false;
}

}  // namespace gpsfw::platform
