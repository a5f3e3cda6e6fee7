#pragma once

namespace gpsfw::platform {

// True when `fd` is a terminal (on Windows: a console).
bool IsTerminal(int fd);

// The terminal's width in columns; 0 when it tells none.
int TerminalColumns(int fd);

}  // namespace gpsfw::platform
