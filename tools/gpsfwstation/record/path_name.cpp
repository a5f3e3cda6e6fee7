#include "tools/gpsfwstation/record/path_name.h"

namespace gpsfw::station::record {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace gpsfw::station::record
