#pragma once

#include <cstddef>
#include <string>

namespace gpsfw::station {

// What one request of the page weighs: its request line and header are a few hundred bytes.
// Anything beyond these is refused before its token is even looked at.
inline constexpr size_t kMaxRequestTarget = 8 * 1024;
inline constexpr size_t kMaxHeaderBytes = 8 * 1024;

// What the server knows of a request once its header has been read (within the connection's
// memory bound), before it serves anything.
struct RequestFacts {
  size_t targetBytes = 0;               // the request target as sent, its query included
  size_t headerBytes = 0;               // the header fields as sent
  bool beyondClientBound = false;       // the connection came while the client bound was reached
  const char* authorization = nullptr;  // the Authorization field, if any
  const char* queryToken = nullptr;     // the decoded ?token=, if any
  const char* pageCookie = nullptr;     // the web updater page's token cookie, on its files only
};

// 0 when the request may be served; otherwise the status that refuses it. The cheap checks
// come first: 414 (target too long), 431 (header too large), 503 (too many clients), then 401
// (no or a wrong token, when the station has one).
int RefusalStatus(const RequestFacts& facts, const std::string& token);

}  // namespace gpsfw::station
