#include "image/srec_reader.h"

#include <cstring>

namespace gpsfw {
namespace {

constexpr size_t kLineBuffer = 256;
// fgets limit: at most kSRecLongestLine characters and the terminator.
constexpr int kLineLimit = kSRecLongestLine + 1;
constexpr uint8_t kDataType = 3;
constexpr uint8_t kEntryType = 7;
constexpr uint32_t kNoAddress = 0xFFFFFFFF;
constexpr uint64_t kAddressSpaceEnd = 0x100000000ull;

}  // namespace

bool SRecReader::Open(const char* path) {
  Close();
  return file_.Open(path, "r");
}

bool SRecReader::Adopt(int fd) {
  Close();
  return file_.Adopt(fd, "r");
}

void SRecReader::ToStart() {
  file_.ToStart();
  lineNumber_ = 0;
  tooLongLine_ = 0;
}

bool SRecReader::LineEndsHere() {
  std::FILE* stream = file_.Get();
  const int next = std::fgetc(stream);
  if (next == EOF || next == '\n') return true;
  if (next == '\r') {
    const int after = std::fgetc(stream);
    if (after != '\n' && after != EOF) std::ungetc(after, stream);
    return true;
  }
  return false;
}

void SRecReader::Close() {
  lineNumber_ = 0;
  tooLongLine_ = 0;
  file_.Close();
  carry_.present = 0;
  extent_ = ImageExtent{};
}

int SRecReader::ParseLine(SRecLine& line) {
  char text[kLineBuffer];
  std::memset(text, 0, sizeof text);
  if (!file_.IsOpen()) return kLineError;
  if (std::fgets(text, kLineLimit, file_.Get()) == nullptr) return kLineEnd;
  ++lineNumber_;
  // A line the buffer cannot hold is refused whole, rather than read as two.
  const size_t length = std::strlen(text);
  if (length == static_cast<size_t>(kSRecLongestLine) && std::strchr(text, '\n') == nullptr &&
      !LineEndsHere()) {
    tooLongLine_ = lineNumber_;
    return kLineError;
  }
  // A CR ends the text as well, so CR LF and LF files read alike.
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = '\0';
  }
  return ParseLineText(text, line);
}

bool SRecReader::Probe() {
  SRecLine line;
  if (ParseLine(line) == kLineError) return false;
  ToStart();
  return true;
}

bool SRecReader::Scan() {
  if (!file_.IsOpen()) return false;
  uint32_t start = kNoAddress;
  uint32_t entry = kNoAddress;
  uint64_t highestEnd = 0;
  bool anyData = false;
  SRecLine line;
  for (;;) {
    const int result = ParseLine(line);
    if (result == kLineEnd) break;
    if (result == kLineError) return false;
    if (line.type == kDataType) {
      // The size must reach past the last line's data so that the erase covers it. Data
      // that reaches the top of the address space cannot be loaded: the end of its erase
      // range would not fit in 32 bits.
      const uint64_t end = static_cast<uint64_t>(line.address) + line.length;
      if (end >= kAddressSpaceEnd) return false;
      if (end > highestEnd) highestEnd = end;
      if (line.address < start) start = line.address;
      anyData = true;
    } else if (line.type == kEntryType) {
      entry = line.address;
    }
  }
  extent_.start = start;
  extent_.size = anyData ? static_cast<uint32_t>(highestEnd - start) : 0;
  extent_.entry = entry == kNoAddress ? start : entry;
  return true;
}

void SRecReader::Rewind() {
  ToStart();
  carry_.present = 0;
}

bool SRecReader::NextRecord(RecordPacket& packet) {
  if (!file_.IsOpen()) return false;
  Reset(packet);
  // A carry left in the caller's packet by an earlier filling is not ours to hand on.
  packet.carry.present = 0;
  if (carry_.present) {
    Append(packet, carry_.address, carry_.length, carry_.data);
    carry_.present = 0;
  }
  SRecLine line;
  for (;;) {
    const int result = ParseLine(line);
    if (result == kLineEnd) break;
    if (result == kLineError) return false;
    // A data line without bytes would open a packet without data, which reads as the end
    // of the image and would drop every line behind it.
    if (line.type != kDataType || line.length == 0) continue;
    if (Append(packet, line.address, line.length, line.data)) break;
  }
  carry_ = packet.carry;
  Seal(packet);
  return true;
}

}  // namespace gpsfw
