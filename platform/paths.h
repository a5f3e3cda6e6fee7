#pragma once

#include <cstddef>

namespace gpsfw::platform {

// "COMn:" and "GPSn:" name the host's serial ports: /dev/ttyS<n-1> and /dev/gps<n-1> on a
// POSIX host, \\.\COMn and \\.\GPSn on Windows. Anything else is a device path used as
// given. False when the result does not fit.
bool DevicePathForPort(const char* portName, char* out, size_t capacity);

// Full path of the running program, or "" when unknown. Always terminated; '/' separates
// its directories on every host (Windows accepts it as well as '\').
void ModuleFileName(char* out, size_t capacity);
// Tests place "sfld.hex" beside a program of their own choosing; nullptr undoes it.
void OverrideModuleFileName(const char* path);
// The entry hands over argv[0]: a host without /proc/self/exe finds the running program by
// it, resolved against $PATH as the shell found it.
void SetProgramArgument(const char* argv0);

// Directory for temporary files with its trailing separator: $TMPDIR, or /tmp when unset or
// empty; on Windows the user's temporary folder.
void TempDirectory(char* out, size_t capacity);

}  // namespace gpsfw::platform
