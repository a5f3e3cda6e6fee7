#pragma once

#include <cstddef>

namespace gpsfw::platform {

// Where the shell found the program started as `argv0`: a name holding a '/' is taken as it
// stands (relative to the working directory), a bare name is looked up in the directories of
// `searchPath` in order, an empty entry meaning the working directory, as execvp() does
// (/bin:/usr/bin when `searchPath` is nullptr). The first executable regular file is the
// program; the result is its real path, links resolved, as /proc/self/exe would name it.
// False, with `out` empty, when nothing matches or the path does not fit.
bool FindProgram(const char* argv0, const char* searchPath, char* out, size_t capacity);

// The running program: what the kernel's link `selfLink` names (/proc/self/exe on Linux),
// or, on a host without it, `argv0` found by FindProgram(). False, with `out` empty, when
// neither names it whole.
bool LocateProgram(const char* selfLink, const char* argv0, const char* searchPath, char* out,
                   size_t capacity);

}  // namespace gpsfw::platform
