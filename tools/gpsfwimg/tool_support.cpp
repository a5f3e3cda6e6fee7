#include "tools/gpsfwimg/tool_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/container_layout.h"
#include "image/sfld_loader.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

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

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Bytes ReadWholeFile(const std::string& path) {
  // Non-blocking, so that a FIFO without a writer cannot stall the open.
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) throw InputError("cannot open " + path + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw InputError(path + " is not a regular file");
  }
  if (info.st_size > kMaxImageSize) {
    throw InputError(path + " is larger than the largest firmware container (" +
                     std::to_string(kMaxImageSize) + " bytes)");
  }
  // One byte more than its size tells a file that grows while it is read.
  Bytes bytes(static_cast<size_t>(info.st_size) + 1);
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw InputError("cannot read " + path + ": " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == bytes.size()) throw InputError(path + " grew while it was read");
  bytes.resize(got);
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

}  // namespace gpsfw::tool
