#include "tools/gpsfwsim/sim_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "sim/flash.h"

namespace gpsfw::simtool {
namespace {

using sim::Timing;

struct TimingOption {
  const char* name;
  uint32_t Timing::*field;
};

constexpr TimingOption kTimingOptions[] = {
    {"--boot-us", &Timing::bootUs},
    {"--sfld-start-us", &Timing::sfldStartUs},
    {"--reboot-us", &Timing::rebootUs},
    {"--reply-us", &Timing::replyUs},
    {"--program-record-us", &Timing::programRecordUs},
    {"--erase-sector-us", &Timing::eraseSectorUs},
    {"--frame-gap-us", &Timing::frameGapUs},
    {"--resync-us", &Timing::resyncUs},
    {"--sfld-idle-us", &Timing::sfldIdleUs},
    {"--chatter-period-us", &Timing::chatterPeriodUs},
};

constexpr const char* kValueOptions[] = {
    "--link",       "--expect",        "--report",       "--time-limit",   "--power-on-baud",
    "--flash-base", "--flash-sectors", "--boot-version", "--sfld-version", "--flash-type",
    "--type-reply", "--garbage",       "--seed",         "--reject",       "--flood",
    "--silence",    "--reset",         "--erase-fault",  "--reset-at",     "--unplug",
    "--stray-sync", "--power-on-ms",
};

// The longest run the simulator's clock can express with room to spare.
constexpr double kMaxSeconds = 1e9;
// What a line at 230400 baud carries: more garbage than that cannot get onto the line.
constexpr double kMaxGarbagePerSecond = 23040;
// Shorter idle or chatter periods would keep the receiver busy with itself.
constexpr uint32_t kShortestPeriodUs = 1000;

bool TakesValue(const std::string& option) {
  for (const char* name : kValueOptions) {
    if (option == name) return true;
  }
  for (const TimingOption& timing : kTimingOptions) {
    if (option == timing.name) return true;
  }
  return false;
}

// A positive, finite number up to `most`.
double ParsePositive(const std::string& text, const std::string& option, double most,
                     const char* unit) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || !(value > 0) || value > most) {
    char range[64];
    std::snprintf(range, sizeof range, "above 0 and at most %.0f", most);
    throw UsageError(option + " needs a number of " + unit + " " + range + ", not '" + text + "'");
  }
  return value;
}

std::vector<sim::SectorRegion> ParseSectors(const std::string& text, const std::string& option) {
  std::vector<sim::SectorRegion> regions;
  for (const std::string& field : SplitFields(text, ',')) {
    const std::vector<std::string> parts = SplitFields(field, 'x');
    if (parts.size() != 2) throw UsageError(option + " takes COUNTxSIZE[,COUNTxSIZE...]");
    regions.push_back({ParseNumber(parts[0], option), ParseNumber(parts[1], option)});
    if (regions.back().count == 0 || regions.back().size == 0) {
      throw UsageError(option + ": sectors need a count and a size");
    }
  }
  return regions;
}

std::vector<uint8_t> ParseHexBytes(const std::string& text, const std::string& option) {
  std::vector<uint8_t> bytes;
  for (const std::string& field : SplitFields(text, ' ')) {
    if (!field.empty()) bytes.push_back(ParseByte(field, option));
  }
  return bytes;
}

bool ApplyTiming(SimOptions& options, const std::string& option, const std::string& value) {
  for (const TimingOption& timing : kTimingOptions) {
    if (option != timing.name) continue;
    const uint32_t us = ParseNumber(value, option);
    const bool period = timing.field == &Timing::sfldIdleUs ||
                        (timing.field == &Timing::chatterPeriodUs && us != 0);
    if (period && us < kShortestPeriodUs) {
      throw UsageError(option + " is at least " + std::to_string(kShortestPeriodUs));
    }
    options.config.timing.*timing.field = us;
    return true;
  }
  return false;
}

void ApplyValue(SimOptions& options, const std::string& option, const std::string& value) {
  sim::ReceiverConfig& config = options.config;
  if (option == "--link") {
    options.link = value;
  } else if (option == "--expect") {
    options.expect = value;
  } else if (option == "--report") {
    options.report = value;
  } else if (option == "--time-limit") {
    options.timeLimitSeconds = ParsePositive(value, option, kMaxSeconds, "seconds");
  } else if (option == "--power-on-baud") {
    config.powerOnBaud = ParseNumber(value, option);
    if (config.powerOnBaud != 4800 && config.powerOnBaud != 57600) {
      throw UsageError(option + " is 4800 or 57600");
    }
  } else if (option == "--flash-base") {
    config.flash.base = ParseNumber(value, option);
  } else if (option == "--flash-sectors") {
    config.flash.regions = ParseSectors(value, option);
  } else if (option == "--boot-version") {
    config.bootLoaderVersion = Unescape(value, option);
  } else if (option == "--sfld-version") {
    config.sfldVersion = Unescape(value, option);
  } else if (option == "--flash-type") {
    config.flashType = ParseByte(value, option);
  } else if (option == "--type-reply") {
    config.typeReplyOverride = ParseHexBytes(value, option);
  } else if (option == "--garbage") {
    config.faults.garbagePerSecond =
        ParsePositive(value, option, kMaxGarbagePerSecond, "bytes per second");
  } else if (option == "--seed") {
    config.faults.seed = ParseNumber(value, option);
  } else if (!ApplyTiming(options, option, value) &&
             !ParseFaultOption(option, value, config.faults)) {
    throw UsageError("unknown option '" + option + "'");
  }
}

bool ApplyFlag(SimOptions& options, const std::string& option) {
  if (option == "--once") {
    options.once = true;
  } else if (option == "--chatter") {
    options.config.chatter = true;
  } else if (option == "--verbose") {
    options.verbose = true;
  } else if (option == "--help" || option == "-h") {
    options.help = true;
  } else if (option == "--no-boot-echo") {
    ++options.config.faults.missingBootModeEchoes;
  } else if (option == "--no-erase-sync") {
    ++options.config.faults.missingEraseSyncs;
  } else {
    return false;
  }
  return true;
}

}  // namespace

uint32_t ParseNumber(const std::string& text, const std::string& option) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != '\0' ||
      value > std::numeric_limits<uint32_t>::max()) {
    throw UsageError(option + ": '" + text + "' is not a number");
  }
  return static_cast<uint32_t>(value);
}

uint8_t ParseByte(const std::string& text, const std::string& option) {
  const uint32_t value = ParseNumber(text, option);
  if (value > 0xFF) throw UsageError(option + ": '" + text + "' is not a byte");
  return static_cast<uint8_t>(value);
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == separator) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string Unescape(const std::string& text, const std::string& option) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'r') {
      out += '\r';
    } else if (kind == 'n') {
      out += '\n';
    } else if (kind == 't') {
      out += '\t';
    } else if (kind == '\\') {
      out += '\\';
    } else if (kind == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(ParseByte("0x" + text.substr(i + 1, 2), option));
      i += 2;
    } else {
      throw UsageError(option + ": unknown escape '\\" + std::string(1, kind) + "'");
    }
  }
  return out;
}

void CheckReceiver(const sim::ReceiverConfig& config, const SimOptions& options) {
  std::string why;
  if (!sim::FlashLayoutFits(config.flash, &why)) {
    throw UsageError("--flash-base and --flash-sectors: " + why);
  }
  std::vector<sim::UnplugFault> unplugs = config.faults.unplugs;
  if (!unplugs.empty() && options.link.empty()) {
    throw UsageError("--unplug needs --link: the host finds the new port at the link");
  }
  std::sort(unplugs.begin(), unplugs.end(),
            [](const auto& a, const auto& b) { return a.afterMs < b.afterMs; });
  for (size_t i = 1; i < unplugs.size(); ++i) {
    if (unplugs[i].afterMs < uint64_t{unplugs[i - 1].afterMs} + unplugs[i - 1].forMs) {
      throw UsageError("--unplug: the port is plugged in again before it is pulled again");
    }
  }
}

SimOptions ParseOptions(const std::vector<std::string>& args) {
  SimOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::string value;
    const size_t equals = option.find('=');
    const bool inlineValue = option.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inlineValue) {
      value = option.substr(equals + 1);
      option.resize(equals);
    }
    if (!inlineValue && ApplyFlag(options, option)) continue;
    if (!TakesValue(option)) throw UsageError("unknown option '" + option + "'");
    if (!inlineValue) {
      if (i + 1 == args.size()) throw UsageError(option + " needs a value");
      value = args[++i];
    }
    ApplyValue(options, option, value);
  }
  CheckReceiver(options.config, options);
  return options;
}

}  // namespace gpsfw::simtool
