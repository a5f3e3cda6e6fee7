#include "tests/image/image_test_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "image/container_layout.h"
#include "platform/paths.h"

namespace gpsfw::test {

uint32_t WordAt(const Bytes& image, size_t offset) {
  return image[offset] | image[offset + 1] << 8 | image[offset + 2] << 16 |
         static_cast<uint32_t>(image[offset + 3]) << 24;
}

void PutWord(Bytes& image, size_t offset, uint32_t value) {
  if (image.size() < offset + 4) image.resize(offset + 4, 0);
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes PseudoRandom(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

void Resum(Bytes& image) {
  const uint32_t pfldEnd = WordAt(image, 0x24) - 0x10000000;
  PutWord(image, pfldEnd & ~3u, XorWords(&image[0], pfldEnd & ~3u));
  const uint32_t fwLength = WordAt(image, 0x4024) - 0x10004000;
  PutWord(image, 0x4000 + (fwLength & ~3u), XorWords(&image[0x4000], fwLength & ~3u));
}

Bytes GoodContainer(uint32_t pfldBytes, uint32_t fwBytes, uint32_t seed) {
  // Both sections start with the ARM branch the container check looks for.
  constexpr uint32_t kBranchWord = 0xE59FF018;
  Bytes pfld = PseudoRandom(pfldBytes, seed);
  PutWord(pfld, 0, kBranchWord);
  Bytes fw = PseudoRandom(fwBytes, seed + 1);
  PutWord(fw, 0, kBranchWord);
  return tool::LayOutContainer(pfld, fw);
}

uint32_t TailSum(const std::string& payload) {
  return XorWords(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

std::string SRecLineText(int type, uint32_t address, int addressBytes, const Bytes& data) {
  const int count = addressBytes + static_cast<int>(data.size()) + 1;
  char pair[3];
  std::string text = "S" + std::to_string(type);
  unsigned sum = 0;
  auto put = [&](unsigned byte) {
    std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
    text += pair;
    sum += byte & 0xFF;
  };
  put(static_cast<unsigned>(count));
  for (int i = addressBytes - 1; i >= 0; --i) put(address >> (8 * i));
  for (uint8_t b : data) put(b);
  put(0xFF - (sum & 0xFF));
  return text;
}

std::string SampleSfld(int lines, uint32_t address) {
  std::string text = SRecLineText(0, 0, 2, Bytes{'s', 'f', 'l', 'd'}) + "\r\n";
  for (int i = 0; i < lines; ++i) {
    text += SRecLineText(3, address + 32 * i, 4, PseudoRandom(32, i + 7)) + "\r\n";
  }
  return text + SRecLineText(7, address, 4, {}) + "\r\n";
}

bool FrameMatches(const RecordPacket& p) {
  const uint8_t* f = p.frame;
  const size_t payload = 4 + p.dataCount + (p.dataCount % 2);
  if (p.length != payload + 6 || f[0] != 0x5B || f[p.length - 1] != 0x5D) return false;
  if ((f[1] << 8 | f[2]) != static_cast<int>(payload / 2)) return false;
  uint16_t sum = 0;
  for (size_t i = 0; i < payload / 2; ++i)
    sum ^= static_cast<uint16_t>(f[3 + 2 * i] << 8 | f[4 + 2 * i]);
  const uint32_t address = static_cast<uint32_t>(f[3]) << 24 | f[4] << 16 | f[5] << 8 | f[6];
  return (f[3 + payload] << 8 | f[4 + payload]) == sum && address == p.address;
}

bool Joined(const Delivery& d, uint32_t start, Bytes& out) {
  out.clear();
  uint32_t next = start;
  for (const auto& run : d.runs) {
    if (run.first != next) return false;
    out.insert(out.end(), run.second.begin(), run.second.end());
    next += static_cast<uint32_t>(run.second.size());
  }
  return true;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(const std::string& path) {
  const std::string text = ReadFile(path);
  return Bytes(text.begin(), text.end());
}

int Run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const char* name) {
  return Run(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

ImageFixtureState::ImageFixtureState() {
  if (const char* t = std::getenv("TMPDIR")) {
    hadTmpdir_ = true;
    savedTmpdir_ = t;
  }
  setenv("TMPDIR", dir.path().c_str(), 1);
  mkdir(ProgramDir().c_str(), 0700);
  platform::OverrideModuleFileName((ProgramDir() + "/gpsfwload").c_str());
}

ImageFixtureState::~ImageFixtureState() {
  platform::OverrideModuleFileName(nullptr);
  if (hadTmpdir_) {
    setenv("TMPDIR", savedTmpdir_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace gpsfw::test
