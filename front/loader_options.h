#pragma once

namespace gpsfw {

// What the command line asks for. Values point into argv (no copy, no length limit below the
// platform's own); nullptr when an option was not given.
struct LoaderOptions {
  const char* image = nullptr;   // -i / -I
  const char* port = nullptr;    // -p / -P
  const char* log = nullptr;     // -l / -L
  const char* events = nullptr;  // --events FILE ("-" for standard output)
  const char* trace = nullptr;   // --trace FILE
  // --reason-file FILE: a failed run's reason as "CODE MESSAGE" on one line
  const char* reasonFile = nullptr;
  // --give-up-after SECONDS as given, and its value; 0 keeps trying for ever.
  const char* giveUpAfter = nullptr;
  const char* state = nullptr;      // --state FILE: what was installed, after a completed update
  const char* showState = nullptr;  // --show-state FILE: print it and end
  unsigned long giveUpAfterSeconds = 0;
  bool progress = false;      // --progress: plain progress lines when stderr is no terminal
  bool quiet = false;         // -q: no console output at all
  bool check = false;         // --check: prepare the image, report, send nothing
  bool noLowLatency = false;  // --no-low-latency: leave the port's latency as it is
  bool listPorts = false;     // --list-ports: list the serial ports and end
  bool json = false;          // --json: the check's report, or the port list, as JSON
  bool help = false;          // -h / --help
  bool version = false;       // --version
  // A refusal (an unknown option, a value too long for the platform): the message for
  // standard error. nullptr when the command line is usable.
  const char* error = nullptr;
  // What the refusal is about: the token as given, or the option whose value is too long.
  const char* offending = nullptr;
};

}  // namespace gpsfw
