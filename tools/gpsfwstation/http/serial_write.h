#pragma once

#include <cstddef>
#include <string>

namespace gpsfw::station {

// The dashboard's one write: POST /api/ports/{id}/serial with {"serial":"..."}. A browser on
// another site can make a request like it; these rules keep it from being accepted.
inline constexpr size_t kMaxSerialBody = 1024;
// A request header that no form can send and that a script of another site can send only
// after a preflight this server never grants.
inline constexpr char kWriteHeader[] = "X-Gpsfw-Request";

// The header fields that decide whether a write is even read; nullptr where absent.
struct WriteFacts {
  const char* authorization = nullptr;
  const char* requestHeader = nullptr;  // kWriteHeader
  const char* origin = nullptr;
  const char* host = nullptr;
  const char* contentLength = nullptr;
};

// Where the station listens, as a Host or Origin field may name it.
struct OwnAddress {
  std::string listenHost;  // the numeric address it is bound to
  int port = 0;
  std::string hostName;  // this machine's name
};

// A status and a JSON body: {"error": "..."} for a refusal.
struct WriteAnswer {
  unsigned status = 0;  // 0: go on
  std::string body;
};

// The id in "/api/ports/{id}/serial"; false for any other path.
bool SerialWriteTarget(const std::string& path, std::string& id);
// Whether the header allows the write, before its body is read: the request header, the
// token in the Authorization field (a cookie or the query is not enough for a write), Host
// and Origin naming this station, a body of at most kMaxSerialBody.
WriteAnswer CheckWriteHeader(const WriteFacts& facts, const std::string& token,
                             const OwnAddress& own);
// The serial in the body, or the answer that refuses it (400 with the reason).
WriteAnswer SerialOfBody(const std::string& body, std::string& serial);
// The JSON body of an answer.
std::string WriteError(const std::string& why);
// True when `host` (a Host field) names this station: its own address, localhost, an
// address literal or this machine's name, with the port it listens on. A name of someone
// else's (DNS rebinding) is not.
bool IsOwnHost(const std::string& host, const OwnAddress& own);

}  // namespace gpsfw::station
