// The Windows entry. Windows hands the command line over as wide text; the loader works in
// 8-bit text, and on Windows that is the ANSI code page, in which its file functions take
// names. Each argument is converted whole and exactly, or the run is refused: a '?' or a
// look-alike letter standing in for a character would name another file.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/loader_main.h"
#include "platform/paths.h"
#include "platform/win32/win32_text.h"

namespace {

// Exit status of a command line refused before the run starts.
constexpr int kUsageRefused = 2;

bool ToAnsi(const wchar_t* wide, std::string& narrow) {
  narrow.assign(std::wcslen(wide) * gpsfw::platform::kMaxAnsiBytesPerUnit + 1, '\0');
  if (!gpsfw::platform::NarrowExactly(&narrow[0], narrow.size(), wide)) return false;
  narrow.resize(std::strlen(narrow.c_str()));
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> texts(static_cast<size_t>(argc));
  std::vector<char*> arguments;
  for (int i = 0; i < argc; ++i) {
    if (!ToAnsi(argv[i], texts[i])) {
      std::fprintf(stderr, "gpsfwload: argument %d cannot be written in the ANSI code page\n", i);
      return kUsageRefused;
    }
    arguments.push_back(&texts[i][0]);
  }
  arguments.push_back(nullptr);
  gpsfw::platform::SetProgramArgument(argc > 0 ? arguments[0] : nullptr);
  return gpsfw::LoaderMain(argc, arguments.data());
}
