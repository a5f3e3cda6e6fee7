#include "sim/expected_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "platform/unique_fd.h"
#include "protocol/link_codes.h"

namespace gpsfw::sim {
namespace {

constexpr size_t kFwStartOffset = 0x4020;
constexpr size_t kFwEndOffset = 0x4024;
constexpr size_t kWordBytes = 4;
constexpr int kS3AddressBytes = 4;
constexpr uint8_t kChecksumTarget = 0xFF;  // count + address + data + checksum, low byte

uint32_t LittleEndianWord(const std::vector<uint8_t>& file, size_t offset) {
  return uint32_t{file[offset]} | uint32_t{file[offset + 1]} << 8 |
         uint32_t{file[offset + 2]} << 16 | uint32_t{file[offset + 3]} << 24;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Address bytes of each record type S0..S9; -1 for types that do not exist.
int AddressBytes(char type) {
  static constexpr int kBytes[] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};
  return kBytes[type - '0'];
}

std::runtime_error LineError(int number, const char* what) {
  return std::runtime_error("S-record line " + std::to_string(number) + ": " + what);
}

// The bytes behind "Sn", checked for hex digits, their count and their checksum.
std::vector<uint8_t> RecordBytes(const std::string& line, int number) {
  if ((line.size() - 2) % 2 != 0) throw LineError(number, "odd number of hex digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i + 1 < line.size(); i += 2) {
    const int high = HexDigit(line[i]);
    const int low = HexDigit(line[i + 1]);
    if (high < 0 || low < 0) throw LineError(number, "not a hex digit");
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  if (bytes.empty() || bytes[0] + size_t{1} != bytes.size()) {
    throw LineError(number, "byte count does not match the line");
  }
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  if (sum != kChecksumTarget) throw LineError(number, "checksum wrong");
  return bytes;
}

void TakeLine(std::string line, int number, std::vector<Segment>& segments) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.pop_back();
  }
  if (line.empty()) return;
  if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' ||
      AddressBytes(line[1]) < 0) {
    throw LineError(number, "not an S-record");
  }
  const std::vector<uint8_t> bytes = RecordBytes(line, number);
  const int addressBytes = AddressBytes(line[1]);
  // count byte, address, data, checksum byte
  if (bytes.size() < size_t(addressBytes) + 2) throw LineError(number, "too short");
  if (line[1] != '3') return;
  uint32_t address = 0;
  for (int i = 0; i < kS3AddressBytes; ++i) address = address << 8 | bytes[1 + i];
  const size_t dataStart = 1 + kS3AddressBytes;
  AppendSegment(segments, address, bytes.data() + dataStart, bytes.size() - dataStart - 1);
}

}  // namespace

bool LooksLikeSRecords(const std::vector<uint8_t>& file) {
  return file.size() >= 2 && file[0] == 'S' && file[1] >= '0' && file[1] <= '9';
}

std::vector<Segment> ExpectedFromContainer(const std::vector<uint8_t>& file) {
  if (file.size() < kFwEndOffset + kWordBytes) {
    throw std::runtime_error("image too short for a firmware container");
  }
  if (LittleEndianWord(file, kFwStartOffset) != FW_BASE) {
    throw std::runtime_error("no FW section header at 0x4020");
  }
  const uint32_t fwEnd = LittleEndianWord(file, kFwEndOffset);
  if (fwEnd < PFLD_BASE) throw std::runtime_error("FW end address below 0x10000000");
  const size_t size = std::min<size_t>(fwEnd - PFLD_BASE, file.size());
  std::vector<Segment> segments;
  AppendSegment(segments, PFLD_BASE, file.data(), size);
  return segments;
}

std::vector<Segment> ExpectedFromSRecords(const std::string& text) {
  std::vector<Segment> segments;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) TakeLine(line, number, segments);
  return segments;
}

std::vector<uint8_t> ReadImageFile(const std::string& path) {
  // Non-blocking, so that a FIFO without a writer cannot stall the open.
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw std::runtime_error(path + " is not a regular file");
  }
  if (static_cast<uint64_t>(info.st_size) > kLargestImageBytes) {
    throw std::runtime_error(path + " is larger than the largest firmware container (" +
                             std::to_string(kLargestImageBytes) + " bytes)");
  }
  // One byte more than its size tells a file that grows while it is read.
  std::vector<uint8_t> file(static_cast<size_t>(info.st_size) + 1);
  size_t got = 0;
  while (got < file.size()) {
    const ssize_t n = ::read(fd.Get(), file.data() + got, file.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == file.size()) throw std::runtime_error(path + " grew while it was read");
  file.resize(got);
  return file;
}

std::vector<Segment> LoadExpectedImage(const std::string& path) {
  const std::vector<uint8_t> file = ReadImageFile(path);
  if (LooksLikeSRecords(file)) return ExpectedFromSRecords(std::string(file.begin(), file.end()));
  return ExpectedFromContainer(file);
}

}  // namespace gpsfw::sim
