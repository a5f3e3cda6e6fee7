#include <emscripten.h>

#include "app/loader_main.h"
#include "platform/paths.h"

// The page runs the loader as a command line: the image, the SFLD and the log are files of
// the module's in-memory file system, the port is the one the user granted, and the event
// stream (--events -) reaches the page as lines of standard output. One run per module
// instance: the loader's process-wide objects start fresh with each.
extern "C" EMSCRIPTEN_KEEPALIVE int gpsfw_web_run(int argc, char** argv) {
  gpsfw::platform::SetProgramArgument(argc > 0 ? argv[0] : nullptr);
  return gpsfw::LoaderMain(argc, argv);
}
