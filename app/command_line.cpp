#include "app/command_line.h"

#include <climits>
#include <cstring>

namespace gpsfw {
namespace {

// PATH_MAX counts the terminator.
constexpr size_t kMaxValueBytes = PATH_MAX - 1;
constexpr char kEmptyValue[] = "";

constexpr char kUnknownOption[] = "unknown option";
constexpr char kStrayWord[] = "unexpected argument";
constexpr char kMissingValue[] = "missing value after";
constexpr char kTooLong[] = "too long a value (over the platform's path limit) for";
constexpr char kJsonAlone[] = "only with --check or --list-ports:";
constexpr char kJsonOwnsStdout[] =
    "standard output holds the check's JSON object alone; refused on standard output:";
constexpr char kStandardOutput[] = "-";

// -i, -p and -l, each with its upper-case form that counts only when the lower is absent.
struct ShortOption {
  char letter;
  const char* name;
  int slot;  // 0 image, 1 port, 2 log
  bool upper;
};

constexpr ShortOption kShortOptions[] = {
    {'i', "-i", 0, false}, {'p', "-p", 1, false}, {'l', "-l", 2, false},
    {'I', "-I", 0, true},  {'P', "-P", 1, true},  {'L', "-L", 2, true},
};
constexpr int kSlots = 3;
const char* LoaderOptions::*const kSlotFields[kSlots] = {&LoaderOptions::image,
                                                         &LoaderOptions::port, &LoaderOptions::log};

struct LongOption {
  const char* name;
  const char* LoaderOptions::*field;
};

// The long forms of -i, -p and -l; they count as the lower-case short form.
struct LongSlot {
  const char* name;
  int slot;
};

constexpr LongSlot kLongSlots[] = {{"--image", 0}, {"--port", 1}, {"--log", 2}};

constexpr LongOption kLongOptions[] = {
    {"--events", &LoaderOptions::events},
    {"--trace", &LoaderOptions::trace},
    {"--reason-file", &LoaderOptions::reasonFile},
    {"--give-up-after", &LoaderOptions::giveUpAfter},
    {"--state", &LoaderOptions::state},
    {"--show-state", &LoaderOptions::showState},
};

// A day: long enough for any update, short enough that the deadline never overflows.
constexpr unsigned long kMostGiveUpSeconds = 86400;
constexpr char kBadSeconds[] = "a whole number of seconds from 1 to 86400 expected for";

// Digits only, no sign, no blanks: a typo must not turn into "never" or "at once".
bool ParseSeconds(const char* text, unsigned long& seconds) {
  if (*text == '\0') return false;
  seconds = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    seconds = seconds * 10 + static_cast<unsigned long>(*c - '0');
    if (seconds > kMostGiveUpSeconds) return false;
  }
  return seconds > 0;
}

struct Flag {
  const char* name;
  bool LoaderOptions::*field;
};

constexpr Flag kFlags[] = {
    {"-q", &LoaderOptions::quiet},
    {"--quiet", &LoaderOptions::quiet},
    {"--progress", &LoaderOptions::progress},
    {"--check", &LoaderOptions::check},
    {"--no-low-latency", &LoaderOptions::noLowLatency},
    {"--list-ports", &LoaderOptions::listPorts},
    {"--json", &LoaderOptions::json},
    {"-h", &LoaderOptions::help},
    {"--help", &LoaderOptions::help},
    {"--version", &LoaderOptions::version},
};

bool TooLong(const char* value) {
  return std::strlen(value) > kMaxValueBytes;
}

class Parser {
 public:
  Parser(int argc, char* const* argv, LoaderOptions& options)
      : argc_(argc), argv_(argv), options_(options) {}

  bool Run() {
    for (next_ = 1; next_ < argc_;) {
      if (!Token(argv_[next_++])) return false;
    }
    for (int slot = 0; slot < kSlots; ++slot) {
      options_.*kSlotFields[slot] = lower_[slot] != nullptr ? lower_[slot] : upper_[slot];
    }
    if (options_.giveUpAfter != nullptr &&
        !ParseSeconds(options_.giveUpAfter, options_.giveUpAfterSeconds)) {
      return Refuse(kBadSeconds, "--give-up-after");
    }
    return JsonUsable();
  }

 private:
  bool Token(const char* token) {
    for (const Flag& flag : kFlags) {
      if (std::strcmp(token, flag.name) != 0) continue;
      options_.*flag.field = true;
      return true;
    }
    for (const LongOption& option : kLongOptions) {
      if (Matches(token, option.name)) return Long(token, option.name, options_.*option.field);
    }
    for (const LongSlot& option : kLongSlots) {
      if (Matches(token, option.name)) return Long(token, option.name, lower_[option.slot]);
    }
    if (token[0] == '-' && token[1] != '\0') {
      for (const ShortOption& option : kShortOptions) {
        if (token[1] == option.letter) return Short(option, token);
      }
      return Refuse(kUnknownOption, token);
    }
    return Refuse(kStrayWord, token);
  }

  // --json is the form of the check's report, and that report is all standard output holds;
  // or the form of the port list, which is all a --list-ports run writes.
  bool JsonUsable() {
    if (!options_.json) return true;
    if (options_.listPorts || options_.showState != nullptr) return true;
    if (!options_.check) return Refuse(kJsonAlone, "--json");
    for (const LongOption& option : kLongOptions) {
      const char* value = options_.*option.field;
      if (value != nullptr && std::strcmp(value, kStandardOutput) == 0) {
        return Refuse(kJsonOwnsStdout, option.name);
      }
    }
    return true;
  }

  // "--name" alone or "--name=VALUE".
  static bool Matches(const char* token, const char* name) {
    const size_t length = std::strlen(name);
    return std::strncmp(token, name, length) == 0 &&
           (token[length] == '=' || token[length] == '\0');
  }

  // A long option's value: after '=' or the next token, which must be there.
  bool Long(const char* token, const char* name, const char*& field) {
    const size_t length = std::strlen(name);
    if (token[length] == '=') return Keep(field, token + length + 1, name);
    if (next_ >= argc_) return Refuse(kMissingValue, name);
    return Keep(field, argv_[next_++], name);
  }

  bool Short(const ShortOption& option, const char* token) {
    const char* value = token + 2;
    if (*value == '\0') value = next_ < argc_ ? argv_[next_++] : kEmptyValue;
    const char*& held = option.upper ? upper_[option.slot] : lower_[option.slot];
    return Keep(held, value, option.name);
  }

  // The first of two equal options counts; every value is checked all the same.
  bool Keep(const char*& field, const char* value, const char* name) {
    if (TooLong(value)) return Refuse(kTooLong, name);
    if (field == nullptr) field = value;
    return true;
  }

  bool Refuse(const char* error, const char* offending) {
    options_.error = error;
    options_.offending = offending;
    return false;
  }

  int argc_;
  char* const* argv_;
  LoaderOptions& options_;
  int next_ = 1;
  const char* lower_[kSlots] = {nullptr, nullptr, nullptr};
  const char* upper_[kSlots] = {nullptr, nullptr, nullptr};
};

}  // namespace

size_t MaxOptionValueBytes() {
  return kMaxValueBytes;
}

bool ParseCommandLine(int argc, char* const* argv, LoaderOptions& options) {
  options = LoaderOptions{};
  return Parser(argc, argv, options).Run();
}

const char* UsageText() {
  return R"(Usage: gpsfwload -i IMAGE [-p PORT] [-l LOG] [options]

Updates the firmware of a GPS receiver module over a serial line and writes every step
to a progress log. It keeps trying until the update has succeeded, or until the time
that --give-up-after gives has passed.

  -i, --image IMAGE  firmware image: a binary container or a Motorola S-record file
  -p, --port PORT    serial port: COMn: (/dev/ttyS<n-1>), GPSn: (/dev/gps<n-1>), a
                     device path, or usb-serial:SERIAL, the USB adapter with that
                     serial number (default GPS1:, that is /dev/gps0)
  -l, --log LOG      progress log, created or truncated (default grelm.txt)
  --progress      progress lines on standard error even when it is not a terminal
  -q, --quiet     nothing on the console
  --events FILE   the update's events as JSON Lines (- for standard output)
  --trace FILE    every byte on the wire, time-stamped
  --reason-file FILE
                  at the end, a failed run's reason as one line "CODE MESSAGE" in
                  FILE; empty after a run that succeeded
  --check         prepare the image and tell what an update would do; send nothing;
                  no log unless -l names one
  --json          with --check: the report as one JSON object on standard output;
                  with --list-ports: the list as JSON
  --no-low-latency  leave the port's latency as it is (by default a USB adapter is
                  asked for its lowest latency, 1 ms, while the loader has the port)
  --list-ports    list the serial ports with their stable names, USB identity and
                  latency timer, and end
  --give-up-after SECONDS
                  stop trying once the update has not completed after SECONDS
                  (1 to 86400); without it the loader keeps trying for ever
  --state FILE    after a completed update, record in FILE what was installed (image,
                  checksums, the receiver's identity) and keep the image before it
  --show-state FILE  print that record (as JSON with --json) and end
  -h, --help      this text
  --version       the program's version

A value follows its option as the next argument or joined to it (-ifw.bin,
--image=fw.bin); it may hold blanks. A long option needs its value. -I, -P and -L count when the lower-case option is absent.

Exit status: 0 update complete; 2 command line refused; 250 no -i; 251 log refused or
not writable; 253 image or SFLD unusable; 254 serial port unusable; 248 gave up
(--give-up-after); 247 update complete but the --state file not written; 128 + N
stopped by signal N.
)";
}

}  // namespace gpsfw
