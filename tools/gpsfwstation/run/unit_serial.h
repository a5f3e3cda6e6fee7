#pragma once

#include <string>
#include <vector>

#include "tools/gpsfwstation/run/port_identity.h"

namespace gpsfw::station {

// A unit's serial number as a label, a barcode or the factory's system gives it.
inline constexpr size_t kMaxSerialLength = 64;

// "" when `serial` may name a unit: 1 to 64 characters of printable ASCII (a space inside is
// kept, none at either end). Otherwise why not, for the operator: a serial goes into the
// record, the table and other programs' queries, where a control character or a look-alike
// letter from another script would be a serial nobody can type again.
std::string SerialProblem(const std::string& serial);

// The serial in what a serial command printed: its first line, without the blanks around it.
std::string FirstLine(const std::string& output);

// The environment of a serial command: the station's own, and what names the port.
std::vector<std::string> SerialEnvironment(const std::string& port, const PortIdentity& identity);

}  // namespace gpsfw::station
