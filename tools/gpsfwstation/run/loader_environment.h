#pragma once

#include <string>
#include <vector>

namespace gpsfw::station {

// The station's environment for a loader, with TMPDIR naming the unit's private folder: the
// loader copies the image's SFLD to $TMPDIR/sfld_tmp.hex, and each unit keeps its own.
std::vector<std::string> LoaderEnvironment(const std::string& tmpDir);

}  // namespace gpsfw::station
