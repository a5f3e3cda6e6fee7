#pragma once

namespace gpsfw::platform {

// A file with no name in any folder, readable and writable, gone when its last descriptor
// closes: for a copy the run needs when the temporary folder cannot take one. Not inherited
// by child processes. A descriptor, or -1 with errno set.
int OpenUnnamedFile(const char* label);

}  // namespace gpsfw::platform
