#include "tools/gpsfwstation/http/http_address.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "tools/gpsfwstation/cli/station_options.h"

namespace gpsfw::station {
namespace {

int ParsePort(const std::string& text, const std::string& whole) {
  char* end = nullptr;
  const long port = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
    throw UsageError("--http needs ADDR:PORT with a port from 0 to 65535, not '" + whole + "'");
  }
  return static_cast<int>(port);
}

bool IsLoopback(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool IsNumericAddress(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

HttpAddress ParseHttpAddress(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    throw UsageError("--http needs ADDR:PORT or :PORT, not '" + text + "'");
  }
  std::string host = text.substr(0, colon);
  HttpAddress address;
  address.port = ParsePort(text.substr(colon + 1), text);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || host == "localhost") host = "127.0.0.1";
  if (!IsNumericAddress(host)) {
    throw UsageError("--http needs a numeric address (127.0.0.1, 0.0.0.0, ::1...), not '" + host +
                     "'");
  }
  address.host = host;
  address.loopback = IsLoopback(host);
  return address;
}

std::string HttpUrl(const HttpAddress& address, int port) {
  const bool v6 = address.host.find(':') != std::string::npos;
  std::string host = v6 ? "[" + address.host + "]" : address.host;
  if (address.host == "0.0.0.0" || address.host == "::") host = "HOST";
  return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace gpsfw::station
