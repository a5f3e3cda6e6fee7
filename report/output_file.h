#pragma once

#include <cstddef>
#include <cstdio>

namespace gpsfw {

enum class LogOpenResult {
  kOpened,
  kFailed,          // errno tells why (ELOOP: the path's last component is a symbolic link)
  kWouldOverwrite,  // the path leads to a file the run must not destroy
  kHeld,            // another process holds the file for its own run
};

// Opens a file the run writes (the progress log, the event stream, the trace) as a stream in
// mode `mode`: created or truncated, never through a symbolic link in its last component,
// not inherited by child processes. A path that leads to one of the `spared` files (the same
// file, also through a hard or symbolic link) is refused before anything is truncated. A
// FIFO without a reader is refused at once rather than waited for.
LogOpenResult OpenOutputFile(const char* path, const char* mode, const char* const* spared,
                             size_t sparedCount, std::FILE** stream);

// OpenOutputFile for a file the run holds for itself until it closes it: a regular file is
// locked for writing before it is truncated, so that a second run on the same file stops
// (kHeld, with the holder's PID in *holder, 0 when the system cannot tell) without
// destroying it. `holder` may be nullptr.
LogOpenResult OpenHeldOutputFile(const char* path, const char* mode, const char* const* spared,
                                 size_t sparedCount, std::FILE** stream, long* holder);

// True when a kFailed open's errno says the path's last component is a symbolic link.
bool RefusedAsSymbolicLink(int error);

}  // namespace gpsfw
