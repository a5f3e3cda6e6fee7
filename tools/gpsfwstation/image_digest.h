#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gpsfw::station {

// SHA-256 of a stream of bytes, from OpenSSL's libcrypto: the checksum a release names its
// image by. A build without libcrypto for its target gives "" (and --expect-sha256 then
// refuses every image, saying why).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const uint8_t* bytes, size_t count);
  // 64 lower-case hex digits; "" without libcrypto.
  std::string Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace gpsfw::station
