#include "tools/gpsfwimg/tool_support.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/container_layout.h"
#include "image/sfld_loader.h"
#include "platform/paths.h"

namespace gpsfw::tool {

Options ParseOptions(const std::vector<std::string>& args,
                     const std::vector<std::string>& withValue) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (std::find(withValue.begin(), withValue.end(), arg) != withValue.end()) {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      options.values[arg] = args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else {
      options.positional.push_back(arg);
    }
  }
  return options;
}

std::string Required(const Options& options, const std::string& name) {
  const auto found = options.values.find(name);
  if (found == options.values.end()) throw UsageError(name + " is required");
  return found->second;
}

uint32_t ParseNumber(const std::string& name, const std::string& text) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-' || value > UINT32_MAX) {
    throw UsageError(name + " takes a number, not '" + text + "'");
  }
  return static_cast<uint32_t>(value);
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot open " + path);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw InputError("cannot read " + path);
  return bytes;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InputError("cannot write " + path);
}

ScratchDir::ScratchDir() {
  char base[kPathCapacity];
  platform::TempDirectory(base, sizeof base);
  std::string pattern = std::string(base) + "gpsfwimg-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw InputError("cannot create a directory in " + std::string(base));
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes PseudoRandomBytes(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u ^ 0x9E3779B9u;
  if (x == 0) x = 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

uint32_t XorWords(const Bytes& bytes, size_t from, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += kWordBytes) {
    uint8_t word[kWordBytes] = {0, 0, 0, 0};
    for (size_t k = 0; k < kWordBytes && i + k < size; ++k) word[k] = bytes[from + i + k];
    sum ^= LoadLE32(word);
  }
  return sum;
}

}  // namespace gpsfw::tool
