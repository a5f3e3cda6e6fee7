#include "tools/gpsfwstation/run/port_identity.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace gpsfw::station {
namespace {

// The file a path leads to, links followed; the path itself when it leads nowhere.
std::string Resolved(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

bool Names(const platform::SerialPortInfo& info, const std::string& port,
           const std::string& resolved) {
  for (const char* name : {info.device, info.byId, info.byPath}) {
    if (name[0] != '\0' && (port == name || resolved == Resolved(name))) return true;
  }
  return false;
}

}  // namespace

PortIdentity IdentityIn(const platform::SerialPortList& list, const std::string& port) {
  const std::string resolved = Resolved(port);
  for (size_t i = 0; i < list.count; ++i) {
    const platform::SerialPortInfo& info = list.ports[i];
    if (!Names(info, port, resolved)) continue;
    return PortIdentity{info.byId, info.byPath, info.usb ? info.serial : ""};
  }
  return {};
}

PortIdentity IdentifyPort(const std::string& port) {
  // The list is large; a station identifies one port at a time, from its one thread.
  static platform::SerialPortList list;
  if (!platform::ListSerialPorts(platform::kSystemPortRoots, platform::PortProbe::kNoOpen, &list)) {
    return {};
  }
  return IdentityIn(list, port);
}

}  // namespace gpsfw::station
