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

struct SimOptions {
  sim::ReceiverConfig config;
  std::string link;
  std::string expect;
  std::string report;
  bool once = false;
  bool verbose = false;
  bool help = false;
  double timeLimitSeconds = 0;  // 0: none
};

// Throws UsageError on anything it does not understand.
SimOptions ParseOptions(const std::vector<std::string>& args);
const char* UsageText();

// Parsers of option values, shared with the fault options.
uint32_t ParseNumber(const std::string& text, const std::string& option);
uint8_t ParseByte(const std::string& text, const std::string& option);
std::vector<std::string> SplitFields(const std::string& text, char separator);
// Text with C escapes: \r \n \t \\ \xHH.
std::string Unescape(const std::string& text, const std::string& option);

// --reject, --flood, --silence, --reset, --erase-fault. False when `option` is none of them.
bool ParseFaultOption(const std::string& option, const std::string& value, sim::Faults& faults);

}  // namespace gpsfw::simtool
