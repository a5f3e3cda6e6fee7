#include "tools/gpsfwstation/image_digest.h"

#ifdef GPSFW_HAVE_LIBCRYPTO
#include <openssl/evp.h>
#endif

namespace gpsfw::station {

#ifdef GPSFW_HAVE_LIBCRYPTO
struct Sha256::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
  ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const uint8_t* bytes, size_t count) {
  state_->ok = state_->ok && EVP_DigestUpdate(state_->ctx, bytes, count) == 1;
}

std::string Sha256::Hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!state_->ok || EVP_DigestFinal_ex(state_->ctx, digest, &length) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}
#else
struct Sha256::State {};
Sha256::Sha256() = default;
Sha256::~Sha256() = default;
void Sha256::Update(const uint8_t*, size_t) {}
std::string Sha256::Hex() {
  return "";
}
#endif

}  // namespace gpsfw::station
