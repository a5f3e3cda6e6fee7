#pragma once

#include <string>
#include <vector>

namespace gpsfw::station {

// `--config FILE`: a key=value file with the station's options, for a service that starts
// the station with one argument per line of fixtures. Each line is one option (`image=fw.bin`
// is `--image fw.bin`; `watch=yes` is `--watch`); '#' starts a comment line, and '#' after a
// blank ends a value. A key is given once (`ports` may be given again). The file's options
// come before the command line's, so that an option given by hand wins. Only a regular file
// is read. Throws UsageError naming FILE:LINE for a line it does not understand, and both
// lines of a key given twice.
std::vector<std::string> WithConfig(const std::vector<std::string>& args);

}  // namespace gpsfw::station
