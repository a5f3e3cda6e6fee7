#pragma once

namespace gpsfw {

enum class ConsoleMode {
  kOff,    // nothing on the console
  kPlain,  // plain lines: one per phase change and every 10 % (for logs and pipes)
  kLive,   // one status line rewritten in place (a terminal)
};

inline constexpr int kFallbackColumns = 80;

// How the console progress writes, decided once from the terminal and the options.
struct ConsoleSetup {
  ConsoleMode mode = ConsoleMode::kOff;
  int widthFd = -1;  // asked for its width at each line; -1: `width` holds
  int width = kFallbackColumns;
  bool ansi = false;  // the terminal knows "erase to the end of the line"
  bool colour = false;
};

// Live on a terminal unless `quiet`; plain lines elsewhere only when `progress` asks for
// them. Cursor controls only when TERM names a terminal other than "dumb", colour only then
// and while NO_COLOR is unset.
ConsoleSetup DetectConsole(int fd, bool quiet, bool progress);

// The terminal's width in columns (TIOCGWINSZ), kFallbackColumns when it tells none.
int TerminalColumns(int fd);

}  // namespace gpsfw
