#include "platform/terminal.h"

namespace gpsfw::platform {

// A page's standard streams are lines handed to its script, never a terminal: the views
// write plain lines to them.
bool IsTerminal(int /*fd*/) {
  return false;
}

int TerminalColumns(int /*fd*/) {
  return 0;
}

}  // namespace gpsfw::platform
