// The options that describe one receiver: its rates, flash, texts, timings and faults.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim/flash.h"
#include "tools/gpsfwsim/sim_options.h"

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

// The fault options have a table of their own (fault_options.cpp).
constexpr const char* kValueOptions[] = {
    "--power-on-baud", "--flash-base", "--flash-sectors", "--boot-version",
    "--sfld-version",  "--flash-type", "--type-reply",    "--nmea",
};
// Shorter idle or chatter periods would keep the receiver busy with itself.
constexpr uint32_t kShortestPeriodUs = 1000;

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

// The rates a receiver's NMEA port is set to, and how often it may send a burst.
constexpr uint32_t kSlowestNmeaBaud = 4800;
constexpr uint32_t kFastestNmeaBaud = 115200;
constexpr uint32_t kLongestNmeaPeriodMs = 3600000;

sim::NmeaOutput ParseNmea(const std::string& text, const std::string& option) {
  const std::vector<std::string> fields = SplitFields(text, ':');
  if (fields.size() > 2) throw UsageError(option + " takes BAUD[:PERIOD_MS]");
  sim::NmeaOutput nmea;
  nmea.baud = ParseNumber(fields[0], option);
  if (nmea.baud < kSlowestNmeaBaud || nmea.baud > kFastestNmeaBaud) {
    throw UsageError(option + ": the rate is 4800 to 115200");
  }
  if (fields.size() == 2) nmea.periodMs = ParseNumber(fields[1], option);
  if (nmea.periodMs == 0 || nmea.periodMs > kLongestNmeaPeriodMs) {
    throw UsageError(option + ": the period is 1 to " + std::to_string(kLongestNmeaPeriodMs) +
                     " ms");
  }
  return nmea;
}

bool ApplyTiming(sim::ReceiverConfig& config, const std::string& option, const std::string& value) {
  for (const TimingOption& timing : kTimingOptions) {
    if (option != timing.name) continue;
    const uint32_t us = ParseNumber(value, option);
    const bool period = timing.field == &Timing::sfldIdleUs ||
                        (timing.field == &Timing::chatterPeriodUs && us != 0);
    if (period && us < kShortestPeriodUs) {
      throw UsageError(option + " is at least " + std::to_string(kShortestPeriodUs));
    }
    config.timing.*timing.field = us;
    return true;
  }
  return false;
}

}  // namespace

bool IsReceiverValueOption(const std::string& option) {
  for (const char* name : kValueOptions) {
    if (option == name) return true;
  }
  for (const TimingOption& timing : kTimingOptions) {
    if (option == timing.name) return true;
  }
  return IsFaultValueOption(option);
}

bool IsReceiverFlag(const std::string& option) {
  return option == "--chatter" || IsFaultFlag(option);
}

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

void ApplyReceiverOption(sim::ReceiverConfig& config, const std::string& option,
                         const std::string& value) {
  if (option == "--chatter") {
    config.chatter = true;
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
  } else if (option == "--nmea") {
    config.nmea = ParseNmea(value, option);
  } else if (!ApplyTiming(config, option, value) &&
             !ParseFaultOption(option, value, config.faults)) {
    throw UsageError("unknown option '" + option + "'");
  }
}

void CheckReceiver(const sim::ReceiverConfig& config, bool linked) {
  std::string why;
  if (!sim::FlashLayoutFits(config.flash, &why)) {
    throw UsageError("--flash-base and --flash-sectors: " + why);
  }
  std::vector<sim::UnplugFault> unplugs = config.faults.unplugs;
  if (!unplugs.empty() && !linked) {
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

}  // namespace gpsfw::simtool
