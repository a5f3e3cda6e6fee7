#include "front/terminal.h"

#include <stdlib.h>
#include <string.h>

#include "platform/terminal.h"

namespace gpsfw {

ConsoleSetup DetectConsole(int fd, bool quiet, bool progress) {
  ConsoleSetup setup;
  if (quiet) return setup;
  if (!platform::IsTerminal(fd)) {
    if (progress) setup.mode = ConsoleMode::kPlain;
    return setup;
  }
  setup.mode = ConsoleMode::kLive;
  setup.widthFd = fd;
  const char* term = getenv("TERM");
  setup.ansi = term != nullptr && term[0] != '\0' && strcmp(term, "dumb") != 0;
  setup.colour = setup.ansi && getenv("NO_COLOR") == nullptr;
  return setup;
}

int TerminalColumns(int fd) {
  const int columns = platform::TerminalColumns(fd);
  return columns > 0 ? columns : kFallbackColumns;
}

}  // namespace gpsfw
