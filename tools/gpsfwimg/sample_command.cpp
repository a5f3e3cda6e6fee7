#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "image/container_layout.h"
#include "tools/gpsfwimg/commands.h"
#include "tools/gpsfwimg/tool_support.h"

namespace gpsfw::tool {
namespace {

// LDR PC, [PC, #24]: the branch through the vector table that sections start with.
constexpr uint32_t kSampleFirstWord = 0xE59FF018;
constexpr uint32_t kSfldLineData = 32;
constexpr uint32_t kDefaultSfldSize = 2048;
constexpr uint32_t kDefaultSfldAddress = 0x00000000;
constexpr uint32_t kMaxSampleSize = 0x00100000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

Bytes SectionSample(uint32_t size, uint32_t seed) {
  Bytes bytes = PseudoRandomBytes(size, seed);
  StoreLE32(bytes.data(), kSampleFirstWord);
  return bytes;
}

std::string SRecord(int type, uint32_t address, const uint8_t* data, size_t count) {
  const size_t addressBytes = type == 0 ? 2 : 4;
  std::string line = "S" + std::to_string(type);
  unsigned sum = 0;
  char pair[3];
  auto put = [&](unsigned byte) {
    std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
    line += pair;
    sum += byte & 0xFF;
  };
  put(static_cast<unsigned>(addressBytes + count + 1));
  for (size_t i = addressBytes; i-- > 0;) put(address >> (8 * i));
  for (size_t i = 0; i < count; ++i) put(data[i]);
  put(0xFF - (sum & 0xFF));
  return line + "\r\n";
}

std::string SfldSample(uint32_t size, uint32_t address, uint32_t seed) {
  static const uint8_t kHeader[] = {'S', 'F', 'L', 'D', ' ', 's', 'a', 'm', 'p', 'l', 'e'};
  std::string text = SRecord(0, 0, kHeader, sizeof kHeader);
  const Bytes data = PseudoRandomBytes(size, seed);
  for (uint32_t at = 0; at < size; at += kSfldLineData) {
    const uint32_t count = size - at < kSfldLineData ? size - at : kSfldLineData;
    text += SRecord(3, address + at, &data[at], count);
  }
  return text + SRecord(7, address, nullptr, 0);
}

uint32_t SizeOption(const Options& options, const std::string& name, uint32_t fallback) {
  const auto found = options.values.find(name);
  const uint32_t size = found == options.values.end() ? fallback : ParseNumber(name, found->second);
  if (size < kWordBytes || size > kMaxSampleSize) {
    throw UsageError(name + " must lie between 4 and " + std::to_string(kMaxSampleSize));
  }
  return size;
}

}  // namespace

int RunSample(const std::vector<std::string>& args) {
  const Options options = ParseOptions(
      args, {"--pfld-size", "--fw-size", "--sfld-size", "--sfld-address", "--out-dir", "--seed"});
  if (options.help) {
    std::cout << SampleUsage();
    return kExitOk;
  }
  if (!options.positional.empty()) throw UsageError("unexpected argument " + options.positional[0]);
  const std::string dir = Required(options, "--out-dir");
  Required(options, "--pfld-size");
  Required(options, "--fw-size");
  const uint32_t seed =
      options.values.count("--seed") ? ParseNumber("--seed", options.values.at("--seed")) : 1;
  const uint32_t sfldAddress =
      options.values.count("--sfld-address")
          ? ParseNumber("--sfld-address", options.values.at("--sfld-address"))
          : kDefaultSfldAddress;
  const uint32_t sfldSize = SizeOption(options, "--sfld-size", kDefaultSfldSize);
  if (uint64_t{sfldAddress} + sfldSize > kAddressSpace) {
    throw UsageError("--sfld-address: " + std::to_string(sfldSize) + " bytes from there run past " +
                     "0xFFFFFFFF");
  }
  std::error_code failed;
  std::filesystem::create_directories(dir, failed);
  if (failed) throw InputError("cannot create " + dir + ": " + failed.message());
  WriteWholeFile(dir + "/PFLD.bin", SectionSample(SizeOption(options, "--pfld-size", 0), seed));
  WriteWholeFile(dir + "/FW.bin", SectionSample(SizeOption(options, "--fw-size", 0), seed + 1));
  const std::string sfld = SfldSample(sfldSize, sfldAddress, seed + 2);
  WriteWholeFile(dir + "/SFLD.srec", Bytes(sfld.begin(), sfld.end()));
  std::cout << dir << ": PFLD.bin, FW.bin, SFLD.srec\n";
  return kExitOk;
}

}  // namespace gpsfw::tool
