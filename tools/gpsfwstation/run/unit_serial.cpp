#include "tools/gpsfwstation/run/unit_serial.h"

#include <cstring>

extern char** environ;

namespace gpsfw::station {
namespace {

constexpr const char* kPortVariables[] = {
    "GPSFW_PORT=", "GPSFW_PORT_BY_ID=", "GPSFW_PORT_BY_PATH=", "GPSFW_USB_SERIAL="};

bool Printable(char c) {
  return c >= 0x20 && c <= 0x7E;
}

bool OneOfOurs(const char* entry) {
  for (const char* name : kPortVariables) {
    if (std::strncmp(entry, name, std::strlen(name)) == 0) return true;
  }
  return false;
}

}  // namespace

std::string SerialProblem(const std::string& serial) {
  if (serial.empty()) return "the serial is empty";
  if (serial.size() > kMaxSerialLength) {
    return "the serial is longer than " + std::to_string(kMaxSerialLength) + " characters";
  }
  for (char c : serial) {
    if (!Printable(c)) return "the serial holds a character that is not printable ASCII";
  }
  if (serial.front() == ' ' || serial.back() == ' ') {
    return "the serial begins or ends with a space";
  }
  return "";
}

std::string FirstLine(const std::string& output) {
  const std::string line = output.substr(0, output.find('\n'));
  const char* blanks = " \t\r\v\f";
  const size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string> SerialEnvironment(const std::string& port, const PortIdentity& identity) {
  std::vector<std::string> env;
  // The port's own values replace any the station was started with.
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!OneOfOurs(*entry)) env.emplace_back(*entry);
  }
  env.push_back("GPSFW_PORT=" + port);
  env.push_back("GPSFW_PORT_BY_ID=" + identity.byId);
  env.push_back("GPSFW_PORT_BY_PATH=" + identity.byPath);
  env.push_back("GPSFW_USB_SERIAL=" + identity.usbSerial);
  return env;
}

}  // namespace gpsfw::station
