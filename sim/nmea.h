#pragma once

#include <cstdint>
#include <string>

namespace gpsfw::sim {

// "$" + body + "*HH\r\n": the checksum is the XOR of the body's characters.
std::string NmeaSentence(const std::string& body);

// What the application sends once per fix: the position fix, the satellites used and in
// view, the recommended minimum and the course over ground, in the order receivers send
// them. The time of day moves on with `sinceStartMs` and the fix wanders a little, so that
// bursts differ as a real stream's do.
std::string NmeaBurst(uint64_t sinceStartMs);

}  // namespace gpsfw::sim
