#include "app/terminal.h"

#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace gpsfw {

ConsoleSetup DetectConsole(int fd, bool quiet, bool progress) {
  ConsoleSetup setup;
  if (quiet) return setup;
  if (isatty(fd) != 1) {
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
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kFallbackColumns;
  return size.ws_col;
}

}  // namespace gpsfw
