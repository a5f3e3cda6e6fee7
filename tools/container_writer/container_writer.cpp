#include "tools/container_writer/container_writer.h"

#include <cstdio>

#include "image/container_layout.h"

namespace gpsfw::tool {
namespace {

// The PFLD checksum word lies at most at 0x3FFC; the FW end stays below 0x10104000.
constexpr size_t kMaxPfldData = kFwSectionOffset - kWordBytes;
constexpr size_t kMaxFwData = kFwEndLimit - FW_BASE - kWordBytes;
constexpr size_t kMinSectionData = kSectionHeaderOffset + 2 * kWordBytes;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// One section at `offset` of `image`: data, header, checksum word. Returns its end address.
uint32_t PlaceSection(Bytes& image, const Bytes& data, size_t offset, uint32_t base, size_t maxData,
                      const char* name) {
  if (data.size() < kWordBytes) throw ContainerError(std::string(name) + " holds no first word");
  const uint32_t first = LoadLE32(data.data());
  if (!HasFirstWordMark(first)) {
    throw ContainerError(std::string(name) + " first word " + Hex(first) +
                         " is not 0xE5xxxxxx (bytes 18 F0 9F E5 make 0xE59FF018)");
  }
  size_t length = data.size() < kMinSectionData ? kMinSectionData : data.size();
  length = (length + kWordBytes - 1) / kWordBytes * kWordBytes;
  if (length > maxData) {
    throw ContainerError(std::string(name) + " holds " + std::to_string(data.size()) +
                         " bytes; its area takes at most " + std::to_string(maxData));
  }
  image.resize(offset + length + kWordBytes, kPadByte);
  std::copy(data.begin(), data.end(), image.begin() + static_cast<long>(offset));
  const uint32_t end = base + static_cast<uint32_t>(length);
  StoreLE32(&image[offset + kSectionHeaderOffset], base);
  StoreLE32(&image[offset + kSectionHeaderOffset + kWordBytes], end);
  StoreLE32(&image[offset + length], XorWords(&image[offset], length));
  return end;
}

struct TextLine {
  std::string text;
  bool crlf;
};

std::vector<TextLine> SplitLines(const std::string& text) {
  std::vector<TextLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    lines.push_back({line, crlf});
    start = end + 1;
  }
  return lines;
}

// Turns `count` line ends, from the last line backwards, from `from` into the other kind.
void Switch(std::vector<TextLine>& lines, size_t count, bool from) {
  for (size_t i = lines.size(); i-- > 0 && count > 0;) {
    if (lines[i].crlf == from) {
      lines[i].crlf = !from;
      --count;
    }
  }
}

}  // namespace

Bytes LayOutContainer(const Bytes& pfld, const Bytes& fw) {
  Bytes image;
  PlaceSection(image, pfld, 0, PFLD_BASE, kMaxPfldData, "PFLD");
  image.resize(kFwSectionOffset, kPadByte);
  PlaceSection(image, fw, kFwSectionOffset, FW_BASE, kMaxFwData, "FW");
  return image;
}

std::string PadSfldText(const std::string& text) {
  std::vector<TextLine> lines = SplitLines(text);
  size_t length = 0;
  size_t crlfLines = 0;
  for (const TextLine& line : lines) {
    length += line.text.size() + (line.crlf ? 2 : 1);
    crlfLines += line.crlf ? 1 : 0;
  }
  const size_t over = length % kWordBytes;
  const size_t under = (kWordBytes - over) % kWordBytes;
  const size_t lfLines = lines.size() - crlfLines;
  if (under <= lfLines && (under <= over || over > crlfLines)) {
    Switch(lines, under, false);
  } else if (over <= crlfLines) {
    Switch(lines, over, true);
  } else {
    throw ContainerError("the SFLD text has too few lines to be padded to whole words");
  }
  std::string padded;
  for (const TextLine& line : lines) padded += line.text + (line.crlf ? "\r\n" : "\n");
  return padded;
}

void AppendSfld(Bytes& image, const std::string& text) {
  image.insert(image.end(), text.begin(), text.end());
  const Bytes payload(text.begin(), text.end());
  const size_t at = image.size();
  image.resize(at + kWordBytes);
  StoreLE32(&image[at], XorWords(payload.data(), payload.size()));
}

}  // namespace gpsfw::tool
