#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/receiver_config.h"

namespace gpsfw::simtool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotVerified = 1;  // an update completed, the flash did not verify
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoUpdate = 3;  // --once, and no update completed
inline constexpr int kExitSetup = 4;     // pty, link or expected image

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The most receivers one process serves.
inline constexpr int kMaxUnits = 256;

struct SimOptions {
  // One configuration per receiver, and the link each is published at ("" for none).
  std::vector<sim::ReceiverConfig> units;
  std::vector<std::string> links;
  bool counted = false;  // --count was given: many receivers, a report per unit
  std::string expect;
  std::string report;
  bool once = false;
  bool verbose = false;
  bool help = false;
  bool version = false;           // --version: the program's name and version, nothing served
  double timeLimitSeconds = 0;    // 0: none
  uint32_t adapterLatencyMs = 0;  // the USB-serial adapter's latency timer; 0: none
};

// Throws UsageError on anything it does not understand. Options that describe a receiver
// apply to every receiver, or after --unit K only to receiver K (until the next --unit).
SimOptions ParseOptions(const std::vector<std::string>& args);
std::string UsageText();

// Parsers of option values, shared with the fault options.
uint32_t ParseNumber(const std::string& text, const std::string& option);
uint8_t ParseByte(const std::string& text, const std::string& option);
std::vector<std::string> SplitFields(const std::string& text, char separator);
// Text with C escapes: \r \n \t \\ \xHH.
std::string Unescape(const std::string& text, const std::string& option);

// A positive, finite number up to `most`; `unit` names it in the message.
double ParsePositive(const std::string& text, const std::string& option, double most,
                     const char* unit);

// The fault options, from their one table (fault_options.cpp): --reject, --flood, --silence,
// --reset, --reset-at, --erase-fault, --stray-sync, --power-on-ms, --unplug, --no-boot-echo,
// --no-erase-sync, --garbage, --seed.
bool IsFaultValueOption(const std::string& option);
bool IsFaultFlag(const std::string& option);
// False when `option` is not a fault option.
bool ParseFaultOption(const std::string& option, const std::string& value, sim::Faults& faults);
// Their lines of --help, in the table's order.
std::string FaultHelp();

// The options of one receiver (receiver_options.cpp).
bool IsReceiverValueOption(const std::string& option);
bool IsReceiverFlag(const std::string& option);
void ApplyReceiverOption(sim::ReceiverConfig& config, const std::string& option,
                         const std::string& value);
// Throws UsageError for a receiver that cannot be served: a flash outside the address
// space, overlapping unplugs, an unplug without a link.
void CheckReceiver(const sim::ReceiverConfig& config, bool linked);

}  // namespace gpsfw::simtool
