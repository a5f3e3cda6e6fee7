#pragma once

#include <string>

namespace gpsfw::station {

// Where the dashboard listens. Without an address it is loopback: a station's page is for the
// people at the line, and a wider listener is a decision, made with a token.
struct HttpAddress {
  std::string host;  // numeric, as the socket layer takes it
  int port = 0;      // 0: any free port (the station says which)
  bool loopback = true;
};

// "ADDR:PORT", ":PORT" (loopback), "[IPV6]:PORT", "localhost:PORT". Throws UsageError.
HttpAddress ParseHttpAddress(const std::string& text);

// The URL a person would open, for the station's own line on where the page is.
std::string HttpUrl(const HttpAddress& address, int port);

}  // namespace gpsfw::station
