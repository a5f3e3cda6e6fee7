#pragma once

#include <cstddef>

namespace gpsfw::platform {

// The loader's opens of files by name, each not inherited by child processes. Descriptors,
// or -1 with errno set.

// Opens an existing regular file for reading. Anything else (a FIFO, a device, a directory)
// is refused at once, before it is opened: opening a FIFO without a writer would wait for
// one, and opening a device can set it going. EINVAL for a file that is not regular.
int OpenRegularFile(const char* path);

// Opens a file the run writes: created or truncated, never through a symbolic link in its
// last component (ELOOP or EMLINK). A path that leads to one of the `spared` files (the same
// file, also through a hard or symbolic link) is refused before anything is truncated, with
// *spared set. A FIFO without a reader is refused at once rather than waited for.
int OpenOutputDescriptor(const char* path, const char* const* spared, size_t sparedCount,
                         bool* isSpared);

}  // namespace gpsfw::platform
