#pragma once

#include <cstddef>

namespace gpsfw::platform {

// "COMn:" is /dev/ttyS<n-1>, "GPSn:" is /dev/gps<n-1>; anything else is a device path used
// as given. False when the result does not fit.
bool DevicePathForPort(const char* portName, char* out, size_t capacity);

// Full path of the running program (/proc/self/exe), or "" when unknown. Always terminated.
void ModuleFileName(char* out, size_t capacity);
// Tests place "sfld.hex" beside a program of their own choosing; nullptr undoes it.
void OverrideModuleFileName(const char* path);

// Directory for temporary files with its trailing '/': $TMPDIR, or /tmp when unset or empty.
void TempDirectory(char* out, size_t capacity);

}  // namespace gpsfw::platform
