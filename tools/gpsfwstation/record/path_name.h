#pragma once

#include <string>

namespace gpsfw::station::record {

// The last part of a path as the station shows it ("fw.bin" for /srv/images/fw.bin; the path
// itself without a '/'; "" for a folder's path ending in '/').
std::string BaseName(const std::string& path);

}  // namespace gpsfw::station::record
