#include "tools/gpsfwsim/sim_options.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace gpsfw::simtool {
namespace {

// The longest run the simulator's clock can express with room to spare.
constexpr double kMaxSeconds = 1e9;
// The longest latency timer an FTDI chip takes.
constexpr uint32_t kMaxAdapterLatencyMs = 255;

// A receiver option as given, for the receivers it applies to.
struct ReceiverSetting {
  int unit;  // -1: every receiver
  std::string option;
  std::string value;
};

// What the command line says before the receivers are made.
struct Parsed {
  SimOptions options;
  std::string link;
  int count = 1;
  int scope = -1;
  int highestUnit = -1;
  std::vector<ReceiverSetting> settings;
};

bool ApplyServingFlag(SimOptions& options, const std::string& option) {
  if (option == "--once") {
    options.once = true;
  } else if (option == "--verbose") {
    options.verbose = true;
  } else if (option == "--help" || option == "-h") {
    options.help = true;
  } else if (option == "--version") {
    options.version = true;
  } else {
    return false;
  }
  return true;
}

bool IsServingValueOption(const std::string& option) {
  for (const char* name : {"--link", "--expect", "--report", "--time-limit", "--count", "--unit",
                           "--adapter-latency"}) {
    if (option == name) return true;
  }
  return false;
}

int ParseUnitCount(const std::string& text, const std::string& option) {
  const uint32_t value = ParseNumber(text, option);
  if (value == 0 || value > uint32_t{kMaxUnits}) {
    throw UsageError(option + " is 1 to " + std::to_string(kMaxUnits));
  }
  return static_cast<int>(value);
}

void ApplyServing(Parsed& parsed, const std::string& option, const std::string& value) {
  SimOptions& options = parsed.options;
  if (option == "--link") {
    parsed.link = value;
  } else if (option == "--expect") {
    options.expect = value;
  } else if (option == "--report") {
    options.report = value;
  } else if (option == "--time-limit") {
    options.timeLimitSeconds = ParsePositive(value, option, kMaxSeconds, "seconds");
  } else if (option == "--adapter-latency") {
    options.adapterLatencyMs = ParseNumber(value, option);
    if (options.adapterLatencyMs > kMaxAdapterLatencyMs) {
      throw UsageError(option + " is 0 to " + std::to_string(kMaxAdapterLatencyMs) + " ms");
    }
  } else if (option == "--count") {
    parsed.count = ParseUnitCount(value, option);
    options.counted = true;
  } else if (value == "all") {
    parsed.scope = -1;
  } else {
    // Receivers are numbered from 0, as their links are.
    const uint32_t unit = ParseNumber(value, option);
    if (unit >= uint32_t{kMaxUnits}) {
      throw UsageError(option + " is 'all' or a receiver's number, 0 to " +
                       std::to_string(kMaxUnits - 1));
    }
    parsed.scope = static_cast<int>(unit);
    parsed.highestUnit = std::max(parsed.highestUnit, parsed.scope);
  }
}

// The link of each receiver: PATTERN with its one %d replaced by the receiver's number.
std::vector<std::string> Links(const Parsed& parsed) {
  if (!parsed.options.counted) return {parsed.link};
  std::vector<std::string> links(static_cast<size_t>(parsed.count));
  if (parsed.link.empty()) return links;
  const size_t at = parsed.link.find("%d");
  if (at == std::string::npos || std::count(parsed.link.begin(), parsed.link.end(), '%') != 1) {
    throw UsageError("--link with --count is a pattern with one %d, as in /tmp/gps%d");
  }
  for (int k = 0; k < parsed.count; ++k) {
    links[size_t(k)] = parsed.link.substr(0, at) + std::to_string(k) + parsed.link.substr(at + 2);
  }
  return links;
}

void MakeReceivers(Parsed& parsed) {
  if (parsed.highestUnit >= parsed.count) {
    throw UsageError("--unit " + std::to_string(parsed.highestUnit) + ": there are only " +
                     std::to_string(parsed.count) + " receivers, numbered from 0");
  }
  SimOptions& options = parsed.options;
  options.links = Links(parsed);
  for (int k = 0; k < parsed.count; ++k) {
    sim::ReceiverConfig config;
    for (const ReceiverSetting& setting : parsed.settings) {
      if (setting.unit < 0 || setting.unit == k) {
        ApplyReceiverOption(config, setting.option, setting.value);
      }
    }
    CheckReceiver(config, !options.links[size_t(k)].empty());
    options.units.push_back(config);
  }
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

SimOptions ParseOptions(const std::vector<std::string>& args) {
  Parsed parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::string value;
    const size_t equals = option.find('=');
    const bool inlineValue = option.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inlineValue) {
      value = option.substr(equals + 1);
      option.resize(equals);
    }
    if (!inlineValue && ApplyServingFlag(parsed.options, option)) continue;
    if (!inlineValue && IsReceiverFlag(option)) {
      parsed.settings.push_back({parsed.scope, option, ""});
      continue;
    }
    const bool serving = IsServingValueOption(option);
    if (!serving && !IsReceiverValueOption(option)) {
      throw UsageError("unknown option '" + option + "'");
    }
    if (!inlineValue) {
      if (i + 1 == args.size()) throw UsageError(option + " needs a value");
      value = args[++i];
    }
    if (serving) {
      ApplyServing(parsed, option, value);
    } else {
      parsed.settings.push_back({parsed.scope, option, value});
    }
  }
  MakeReceivers(parsed);
  return parsed.options;
}

}  // namespace gpsfw::simtool
