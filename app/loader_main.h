#pragma once

namespace gpsfw {

// The loader's entry on every platform: argv as 8-bit strings, argv[0] the program. Parses
// the command line, answers --help and --version, installs the stop signals and runs the
// update. The result is the process exit status.
int LoaderMain(int argc, char** argv);

}  // namespace gpsfw
