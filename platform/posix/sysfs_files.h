#pragma once

#include <cstddef>

namespace gpsfw::platform {

// Small reads of sysfs and /dev, with fixed buffers: a cut path or value is refused, as it
// names another file or says something else.

// "a/b" into `out`. False when it does not fit.
bool JoinPath(char* out, size_t capacity, const char* folder, const char* name);

// The file's text without its trailing white space (sysfs ends every value with a newline).
bool ReadAttribute(const char* path, char* out, size_t capacity);

// A value in `base` (10, or 16 for USB IDs). False when missing or not a number.
bool ReadNumberAttribute(const char* path, int base, long* value);

// The path with every link followed, as realpath(3) gives it.
bool ResolvePath(const char* path, char* out, size_t capacity);

// The last part of `path`.
const char* BaseName(const char* path);

// True when `path` exists.
bool PathExists(const char* path);

}  // namespace gpsfw::platform
