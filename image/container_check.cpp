#include "image/container_check.h"

#include "image/container_layout.h"
#include "report/progress_log.h"

namespace gpsfw {
namespace {

constexpr size_t kLineCapacity = 96;
constexpr size_t kSumBlockWords = 1024;

struct SectionHeader {
  uint32_t start;
  uint32_t end;
};

// The checksum words of one section: the XOR of its words and the word stored behind them.
struct SectionSum {
  uint32_t computed;
  uint32_t stored;
  bool storedRead;
};

long SizeOf(std::FILE* stream) {
  if (std::fseek(stream, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(stream);
  std::rewind(stream);
  return size;
}

bool SizeFits(long size) {
  return size >= kMinImageSize && size <= kMaxImageSize && size % kWordBytes == 0;
}

void Why(FailureReason* why, const FailureReason& reason) {
  if (why != nullptr) *why = reason;
}

// A section cut short by the end of the file, or a checksum that does not match.
void WhySectionFailed(FailureReason* why, const char* name, const SectionSum& sum,
                      long sectionOffset, uint32_t length, long size) {
  if (why == nullptr) return;
  const long needed = sectionOffset + static_cast<long>(length / kWordBytes * kWordBytes) +
                      static_cast<long>(kWordBytes);
  if (!sum.storedRead) {
    *why = CutShortReason(name, size, needed);
  } else {
    *why = MakeReason("image_checksum",
                      "the %s section's checksum is wrong: stored 0x%08x, computed 0x%08x", name,
                      sum.stored, sum.computed);
  }
}

bool ReadHeader(std::FILE* stream, long offset, SectionHeader& header) {
  return ReadWordAt(stream, offset, header.start) && ReadWord(stream, header.end);
}

bool IsFwHeader(const SectionHeader& header) {
  return header.start == FW_BASE && header.end > FW_BASE && header.end < kFwEndLimit;
}

// Sums `length` div 4 words from `offset` on; a section cut short by the end of the file
// has no stored word to compare with.
SectionSum SumSection(std::FILE* stream, long offset, uint32_t length) {
  SectionSum sum{0, 0, false};
  if (std::fseek(stream, offset, SEEK_SET) != 0) return sum;
  uint32_t words = length / kWordBytes;
  uint8_t block[kSumBlockWords * kWordBytes];
  while (words > 0) {
    const size_t wanted = words < kSumBlockWords ? words : kSumBlockWords;
    const size_t got = std::fread(block, kWordBytes, wanted, stream);
    sum.computed ^= XorWords(block, got * kWordBytes);
    if (got != wanted) return sum;
    words -= static_cast<uint32_t>(got);
  }
  sum.storedRead = ReadWord(stream, sum.stored);
  if (!sum.storedRead) sum.stored = 0;
  return sum;
}

bool LogSectionSum(const char* name, const SectionSum& sum) {
  char line[kLineCapacity];
  const bool passed = sum.storedRead && sum.computed == sum.stored;
  if (passed) {
    std::snprintf(line, sizeof line, "%s CRC: 0x%08x PASSED.", name, sum.computed);
  } else {
    std::snprintf(line, sizeof line, "%s CRC: 0x%08x 0x%08x FAILED.", name, sum.computed,
                  sum.stored);
  }
  LogNarrow(line);
  return passed;
}

void LogSectionFound(const char* format, uint32_t start, uint32_t end) {
  char line[kLineCapacity];
  std::snprintf(line, sizeof line, format, start, end);
  LogNarrow(line);
}

bool FirstWordsMarked(std::FILE* stream) {
  uint32_t word = 0;
  if (!ReadWordAt(stream, 0, word) || !HasFirstWordMark(word)) {
    LogWide(L"Incorrect PFLD Image");
    return false;
  }
  if (!ReadWordAt(stream, kFwSectionOffset, word) || !HasFirstWordMark(word)) {
    LogWide(L"Incorrect FW Image");
    return false;
  }
  return true;
}

// The PFLD section at offset 0: its found and CRC lines. False only for a refused header.
bool CheckPfld(std::FILE* stream, const SectionHeader& header, SectionSum& sum) {
  if (header.end <= PFLD_BASE || header.end >= FW_BASE) {
    LogWide(L"Incorrect Image");
    return false;
  }
  LogSectionFound("PFLD section found at: 0x%08x, 0x%08x", PFLD_BASE, header.end);
  sum = SumSection(stream, 0, header.end - PFLD_BASE);
  return true;
}

}  // namespace

bool CheckContainer(std::FILE* stream, uint32_t* pfldChecksum, FailureReason* why) {
  if (pfldChecksum != nullptr) *pfldChecksum = 0;
  if (stream == nullptr) return false;
  const long size = SizeOf(stream);
  if (!SizeFits(size)) {
    Why(why,
        MakeReason("image_size", "%ld bytes: a container holds %ld to %ld bytes, a multiple of %ld",
                   size, static_cast<long>(kMinImageSize), static_cast<long>(kMaxImageSize),
                   static_cast<long>(kWordBytes)));
    return false;
  }
  SectionHeader header{0, 0};
  ReadHeader(stream, kSectionHeaderOffset, header);
  // An image may also begin with its FW section; it then has no PFLD and is refused below.
  const bool pfldFound = header.start == PFLD_BASE;
  SectionSum pfld{0, 0, false};
  bool passed = true;
  if (pfldFound) {
    if (!CheckPfld(stream, header, pfld)) {
      Why(why, MakeReason("image_format", "the PFLD section's header is wrong"));
      return false;
    }
    passed = LogSectionSum("PFLD", pfld);
    if (!passed) WhySectionFailed(why, "PFLD", pfld, 0, header.end - PFLD_BASE, size);
    if (!ReadHeader(stream, kFwHeaderOffset, header)) header = SectionHeader{0, 0};
  }
  if (!IsFwHeader(header)) {
    LogWide(L"Incorrect Image");
    Why(why, MakeReason("image_format", "no FW section header where a container has it"));
    return false;
  }
  LogSectionFound("FW   section found at: 0x%08x, 0x%08x", FW_BASE, header.end);
  if (pfldFound && !FirstWordsMarked(stream)) {
    Why(why, MakeReason("image_format", "a section's first word lacks its mark"));
    return false;
  }
  const long fwOffset = pfldFound ? kFwSectionOffset : 0;
  const SectionSum fw = SumSection(stream, fwOffset, header.end - FW_BASE);
  // The first fault found is the one named: the PFLD's before the FW's.
  const bool fwPassed = LogSectionSum("FW", fw);
  if (!fwPassed && passed) WhySectionFailed(why, "FW", fw, fwOffset, header.end - FW_BASE, size);
  passed = fwPassed && passed;
  if (!pfldFound) {
    LogWide(L"PFLD section missed or corrupted");
    Why(why, MakeReason("image_format", "the PFLD section is missing or corrupted"));
    return false;
  }
  if (!passed) return false;
  if (pfldChecksum != nullptr) *pfldChecksum = pfld.computed;
  return true;
}

FailureReason CutShortReason(const char* section, long size, long needed) {
  return MakeReason("image_truncated", "%ld bytes where the %s section needs %ld", size, section,
                    needed);
}

}  // namespace gpsfw
