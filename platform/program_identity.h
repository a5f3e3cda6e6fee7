#pragma once

namespace gpsfw::platform {

// What the entry and the tests told about the running program; each host's paths use it.
// The override path, or nullptr when none is in force.
const char* ModuleOverride();
// argv[0] as handed over by the entry, "" before it is.
const char* ProgramArgument();

}  // namespace gpsfw::platform
