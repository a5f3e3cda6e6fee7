#pragma once

#include <cstdint>
#include <string>

namespace gpsfw::sim {

// "$" + body + "*HH\r\n": the checksum is the XOR of the body's characters.
std::string NmeaSentence(const std::string& body);

// What the application sends once per fix: a position fix, the satellites used, the
// recommended minimum and the course over ground, in the order receivers send them. The
// time of day moves on with `sinceStartMs`, so that bursts differ as a real stream does.
std::string NmeaBurst(uint64_t sinceStartMs);

}  // namespace gpsfw::sim
