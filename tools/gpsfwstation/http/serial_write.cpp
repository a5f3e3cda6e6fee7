#include "tools/gpsfwstation/http/serial_write.h"

#include <arpa/inet.h>
#include <strings.h>

#include <nlohmann/json.hpp>

#include "tools/gpsfwstation/http/http_token.h"
#include "tools/gpsfwstation/run/unit_serial.h"

namespace gpsfw::station {
namespace {

constexpr char kPrefix[] = "/api/ports/";
constexpr char kSuffix[] = "/serial";
constexpr int kDefaultHttpPort = 80;

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool IsAddressLiteral(const std::string& name) {
  unsigned char address[16];
  if (inet_pton(AF_INET, name.c_str(), address) == 1) return true;
  return name.size() > 2 && name.front() == '[' && name.back() == ']' &&
         inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), address) == 1;
}

// "name:port", "[v6]:port" or "name" (port 80); false when the port is not a number.
bool SplitHost(const std::string& host, std::string& name, int& port) {
  const size_t colon = host.rfind(':');
  const size_t bracket = host.rfind(']');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    name = host;
    port = kDefaultHttpPort;
    return !name.empty();
  }
  name = host.substr(0, colon);
  const std::string digits = host.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  port = std::stoi(digits);
  return !name.empty();
}

WriteAnswer Refusal(unsigned status, const std::string& why) {
  return {status, WriteError(why)};
}

bool TokenInHeader(const char* authorization, const std::string& token) {
  std::string given;
  return authorization != nullptr && BearerCredentials(authorization, given) &&
         SameSecret(given, token);
}

}  // namespace

std::string WriteError(const std::string& why) {
  return nlohmann::json{{"error", why}}.dump();
}

bool SerialWriteTarget(const std::string& path, std::string& id) {
  const size_t prefix = sizeof kPrefix - 1;
  const size_t suffix = sizeof kSuffix - 1;
  if (path.size() <= prefix + suffix || path.compare(0, prefix, kPrefix) != 0 ||
      path.compare(path.size() - suffix, suffix, kSuffix) != 0) {
    return false;
  }
  id = path.substr(prefix, path.size() - prefix - suffix);
  return true;
}

bool IsOwnHost(const std::string& host, const OwnAddress& own) {
  std::string name;
  int port = 0;
  if (!SplitHost(host, name, port) || port != own.port) return false;
  const std::string bracketed = "[" + own.listenHost + "]";
  return SameText(name, "localhost") || IsAddressLiteral(name) || SameText(name, own.listenHost) ||
         SameText(name, bracketed) || (!own.hostName.empty() && SameText(name, own.hostName));
}

WriteAnswer CheckWriteHeader(const WriteFacts& facts, const std::string& token,
                             const OwnAddress& own) {
  if (facts.requestHeader == nullptr || *facts.requestHeader == '\0') {
    return Refusal(403, std::string("a write needs the header ") + kWriteHeader + ": 1");
  }
  if (!token.empty() && !TokenInHeader(facts.authorization, token)) {
    return Refusal(401, "a write needs the token in its Authorization field (Bearer)");
  }
  if (facts.host == nullptr || !IsOwnHost(facts.host, own)) {
    return Refusal(403, "the Host field does not name this station");
  }
  // A browser names the page a request comes from; only the station's own page may write.
  if (facts.origin != nullptr && !SameText(facts.origin, std::string("http://") + facts.host)) {
    return Refusal(403, "a write is taken from the station's own page only (Origin)");
  }
  if (facts.contentLength != nullptr) {
    const std::string length = facts.contentLength;
    if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos ||
        length.size() > 9 || std::stoul(length) > kMaxSerialBody) {
      return Refusal(413, "a write's body is at most 1 KiB");
    }
  }
  return {};
}

WriteAnswer SerialOfBody(const std::string& body, std::string& serial) {
  const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    return Refusal(400, "the body is not a JSON object");
  }
  const auto field = j.find("serial");
  if (field == j.end() || !field->is_string()) {
    return Refusal(400, "the body has no \"serial\" text");
  }
  serial = field->get<std::string>();
  const std::string problem = SerialProblem(serial);
  if (!problem.empty()) return Refusal(400, problem);
  return {};
}

}  // namespace gpsfw::station
