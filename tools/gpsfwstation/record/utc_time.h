#pragma once

#include <chrono>
#include <string>

namespace gpsfw::station::record {

// ISO 8601 in UTC with milliseconds, "2026-12-09T07:54:18.123Z": text that sorts as time does,
// in both databases alike.
std::string UtcText(std::chrono::system_clock::time_point when);
std::string UtcNow();
// The time that UtcText wrote (the milliseconds may be left out); false for any other text.
bool ParseUtc(const std::string& text, std::chrono::system_clock::time_point& when);

}  // namespace gpsfw::station::record
