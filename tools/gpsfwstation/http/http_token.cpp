#include "tools/gpsfwstation/http/http_token.h"

#include <cctype>

namespace gpsfw::station {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::string TokenProblem(const std::string& token) {
  if (token.size() >= kMinTokenLength) return "";
  return "the dashboard's token has " + std::to_string(token.size()) +
         " characters; it needs at least " + std::to_string(kMinTokenLength) +
         ", as anyone who reaches the port can try shorter ones (make one with: openssl rand "
         "-hex 16)";
}

bool BearerCredentials(const std::string& field, std::string& credentials) {
  static const std::string kScheme = "bearer";
  if (field.size() <= kScheme.size() || !IsBlank(field[kScheme.size()])) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(field[i])) != kScheme[i]) return false;
  }
  size_t begin = kScheme.size();
  while (begin < field.size() && IsBlank(field[begin])) ++begin;
  size_t end = field.size();
  while (end > begin && IsBlank(field[end - 1])) --end;
  credentials = field.substr(begin, end - begin);
  return true;
}

bool SameSecret(const std::string& given, const std::string& token) {
  unsigned char diff = given.size() == token.size() ? 0 : 1;
  for (size_t i = 0; i < token.size(); ++i) {
    diff |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
  }
  return diff == 0;
}

std::string TokenCookie(const std::string& token) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : token) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return hex;
}

}  // namespace gpsfw::station
