#pragma once

namespace gpsfw {

// Opens an existing regular file for reading, not inherited by child processes. Anything
// else (a FIFO, a device, a directory) is refused at once, before it is opened: opening a
// FIFO without a writer would wait for one, and opening a device can set it going. The
// descriptor, or -1 with errno set (EINVAL for a file that is not regular).
int OpenRegularFile(const char* path);

}  // namespace gpsfw
