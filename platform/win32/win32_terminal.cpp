#include <io.h>
#include <windows.h>

#include "platform/terminal.h"

namespace gpsfw::platform {

bool IsTerminal(int fd) {
  return _isatty(fd) != 0;
}

int TerminalColumns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace gpsfw::platform
