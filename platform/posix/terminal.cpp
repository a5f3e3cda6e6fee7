#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace gpsfw::platform {

bool IsTerminal(int fd) {
  return isatty(fd) == 1;
}

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace gpsfw::platform
