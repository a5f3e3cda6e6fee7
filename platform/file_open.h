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

// What OpenHeldOutputDescriptor puts in *holder when no other process holds the file.
inline constexpr long kNotHeld = -1;

// OpenOutputDescriptor for a file the caller holds for itself while the descriptor is open: a
// regular file is locked for writing (a lock that ends with the process) before it is
// truncated. When another process holds it: -1 with EAGAIN, nothing truncated, and *holder
// set to that process's PID (0 when the system cannot tell); otherwise *holder is kNotHeld.
int OpenHeldOutputDescriptor(const char* path, const char* const* spared, size_t sparedCount,
                             bool* isSpared, long* holder);

// Locks the whole file open at `fd` for writing, without waiting. False when another process
// holds a lock on it, with that process's PID in *holder (0 when unknown), or when the lock
// cannot be taken (errno).
bool LockForWriting(int fd, long* holder);

}  // namespace gpsfw::platform
