#pragma once

#include <cstddef>
#include <string>

namespace gpsfw::station {

// A shorter token can be tried out over the line's network in reasonable time, and the station
// says nothing of failed tries: it refuses to start with one.
inline constexpr size_t kMinTokenLength = 16;

// "" when `token` may guard the dashboard, otherwise why it may not (for the usage message).
std::string TokenProblem(const std::string& token);

// The credentials of an Authorization field in the Bearer scheme. The scheme's name is matched
// whatever its case (RFC 9110, 11.1): browsers and tools spell it differently. False for any
// other scheme.
bool BearerCredentials(const std::string& field, std::string& credentials);

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& token);

// The token as the web updater page's cookie carries it: hex, as a cookie's value takes only
// some characters and a token may hold any.
std::string TokenCookie(const std::string& token);

}  // namespace gpsfw::station
