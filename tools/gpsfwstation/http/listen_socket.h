#pragma once

#include <string>

#include "tools/gpsfwstation/http/http_address.h"

namespace gpsfw::station {

// A listening TCP socket at `address` (non-blocking, closed on exec), its port in `port` (the
// one chosen when the address asked for port 0); -1 with the address and the system's reason.
int ListenOn(const HttpAddress& address, int& port, std::string& error);

}  // namespace gpsfw::station
