#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/container_writer/container_writer.h"  // Bytes

namespace gpsfw::tool {

// A mistake on the command line: the message is shown with a hint to --help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Input the command refuses (a file that cannot be read, an SFLD the loader would not
// accept); the container writer refuses what does not fit with its own ContainerError.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  std::map<std::string, std::string> values;  // "--name" -> value
  std::vector<std::string> positional;
  bool help = false;
};

// Options of the form "--name VALUE" (names listed in `withValue`), "--help"/"-h", and
// positional arguments. Throws UsageError for anything else.
Options ParseOptions(const std::vector<std::string>& args,
                     const std::vector<std::string>& withValue);
// The value of a required option, or UsageError.
std::string Required(const Options& options, const std::string& name);
// A number in decimal or 0x-hexadecimal; UsageError when it is not one.
uint32_t ParseNumber(const std::string& name, const std::string& text);

// The bytes of a regular file no larger than the largest firmware container; InputError
// for anything else (a device, a FIFO, a directory, a file too large).
Bytes ReadWholeFile(const std::string& path);
// True for an existing regular file (after symbolic links).
bool IsRegularFile(const std::string& path);
void WriteWholeFile(const std::string& path, const Bytes& bytes);

// A private temporary directory under the loader's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Deterministic pseudo-random bytes (xorshift32), the same on every machine.
Bytes PseudoRandomBytes(size_t size, uint32_t seed);

}  // namespace gpsfw::tool
