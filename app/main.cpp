#include <signal.h>

#include "app/loader_main.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  // A reader of the event stream or the trace that leaves (`--events - | head`, a FIFO)
  // must not end the loader halfway through programming the flash: the failed write is
  // reported and that output closed, and the update goes on.
  ::signal(SIGPIPE, SIG_IGN);
  gpsfw::platform::SetProgramArgument(argc > 0 ? argv[0] : nullptr);
  return gpsfw::LoaderMain(argc, argv);
}
