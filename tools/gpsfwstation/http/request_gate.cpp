#include "tools/gpsfwstation/http/request_gate.h"

#include "tools/gpsfwstation/http/http_token.h"

namespace gpsfw::station {
namespace {

bool CarriesToken(const RequestFacts& facts, const std::string& token) {
  std::string given;
  if (facts.authorization != nullptr && BearerCredentials(facts.authorization, given)) {
    return SameSecret(given, token);
  }
  if (facts.pageCookie != nullptr && SameSecret(facts.pageCookie, TokenCookie(token))) return true;
  return facts.queryToken != nullptr && SameSecret(facts.queryToken, token);
}

}  // namespace

int RefusalStatus(const RequestFacts& facts, const std::string& token) {
  if (facts.targetBytes > kMaxRequestTarget) return 414;
  if (facts.headerBytes > kMaxHeaderBytes) return 431;
  if (facts.beyondClientBound) return 503;
  if (!token.empty() && !CarriesToken(facts, token)) return 401;
  return 0;
}

}  // namespace gpsfw::station
