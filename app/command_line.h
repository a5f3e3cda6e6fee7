#pragma once

#include <cstddef>

#include "front/loader_options.h"

namespace gpsfw {

// Exit status of a command line that is refused, as getopt-style programs use it.
inline constexpr int kExitUsage = 2;
// The update completed and the receiver runs the new image, but --state could not be written.
inline constexpr int kExitStateNotWritten = -9;

// The longest option value accepted: a path the platform can open (PATH_MAX counts the
// terminator). A longer value is refused, never cut.
size_t MaxOptionValueBytes();

// Reads argv[1] .. argv[argc - 1] into `options`; each element is one token. -i, -p and -l
// take their value from the next token or joined to the option (-ifw.bin); a value may hold
// any byte. -I, -P and -L count only when the lower-case form is absent; of two equal
// options the first counts. -i, -p or -l as the last token has an empty value. --events and
// --trace take a value from the next token or after '=' (--events=FILE). False when the
// command line is refused: options.error then holds the message and options.offending
// what it is about.
bool ParseCommandLine(int argc, char* const* argv, LoaderOptions& options);

// The text of --help.
const char* UsageText();

}  // namespace gpsfw
