#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "image/container_check.h"
#include "image/image_source.h"
#include "image/sfld_loader.h"
#include "protocol/link_codes.h"
#include "report/progress_log.h"
#include "tools/gpsfwimg/commands.h"
#include "tools/gpsfwimg/tool_support.h"

namespace gpsfw::tool {
namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

void Show(const std::string& label, const std::string& value) {
  std::cout << label << ":" << std::string(label.size() < 16 ? 16 - label.size() : 1, ' ') << value
            << "\n";
}

// The container check, with the lines it writes to the progress log shown indented.
bool ShowContainerCheck(ImageSource& image, const ScratchDir& scratch) {
  const std::string logPath = scratch.File("check.log");
  OpenProgressLog(logPath.c_str());
  uint32_t pfldChecksum = 0;
  const bool accepted = CheckContainer(image.BinaryStream(), &pfldChecksum);
  CloseProgressLog(0);
  std::cout << "Container check:\n";
  const Bytes log = ReadWholeFile(logPath);
  std::istringstream lines(std::string(log.begin(), log.end()));
  bool anyLine = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("RetCode:", 0) == 0) continue;
    std::cout << "  " << line << "\n";
    anyLine = true;
  }
  if (accepted) {
    std::cout << "  accepted, PFLD checksum " << Hex(pfldChecksum) << "\n";
  } else if (!anyLine) {
    std::cout << "  refused without a line: the file size is not a multiple of 4 or lies "
                 "outside 1024..269484032 bytes\n";
  }
  return accepted;
}

// False when the tail is sound but its text would fail the loader's SFLD scan.
bool ShowSfldTail(const std::string& path, const ScratchDir& scratch) {
  const std::string sfldPath = scratch.File("sfld_tmp.hex");
  SfldTail tail{};
  const bool found = ExtractSfldTo(path.c_str(), sfldPath.c_str(), &tail);
  if (!tail.present) {
    Show("SFLD tail", "none; the loader takes sfld.hex from its own directory");
    return true;
  }
  if (!found) {
    Show("SFLD tail", "skipped: checksum " + Hex(tail.computed) + " but stored " +
                          Hex(tail.stored) + "; the loader takes sfld.hex instead");
    return true;
  }
  Show("SFLD tail",
       "found, " + std::to_string(tail.payloadSize) + " bytes, checksum " + Hex(tail.computed));
  SRecReader reader;
  if (!reader.Open(sfldPath.c_str()) || !reader.Scan()) {
    Show("SFLD", "not a well-formed S-record file (the loader logs \"Incorrect SFLD.\")");
    return false;
  }
  Show("SFLD extent", "start " + Hex(reader.Extent().start) + ", entry " +
                          Hex(reader.Extent().entry) + ", " + std::to_string(reader.Extent().size) +
                          " bytes");
  return true;
}

bool ShowRecords(ImageSource& image) {
  auto packet = std::make_unique<RecordPacket>();
  image.Rewind();
  uint64_t records = 0;
  uint64_t bytes = 0;
  for (;;) {
    if (!image.NextRecord(*packet)) {
      Show("Records", "read error after " + std::to_string(records) + " records");
      return false;
    }
    if (packet->dataCount == 0) break;
    ++records;
    bytes += packet->dataCount;
  }
  Show("Records", std::to_string(records) + " data records, " + std::to_string(bytes) +
                      " bytes, then the end record");
  return true;
}

int Verdict(bool accepted, const std::string& reason) {
  Show("Verdict", accepted ? "accepted" : "refused: " + reason);
  return accepted ? kExitOk : kExitRefused;
}

int Inspect(const std::string& path) {
  ScratchDir scratch;
  auto image = std::make_unique<ImageSource>();
  Show("Image", path);
  if (!IsRegularFile(path)) return Verdict(false, "not a regular file");
  if (!image->Open(path.c_str())) return Verdict(false, "the file cannot be opened");
  const bool srecord = image->Type() == kImageSRecord;
  Show("Type", srecord ? "Motorola S-Record" : "Binary");
  if (!image->Scan()) {
    return Verdict(false, srecord ? "a line is not a well-formed S-record line"
                                  : "no FW header (0x10004000) at file offset 0x4020");
  }
  const ImageExtent extent = image->Extent();
  Show("Start address", Hex(extent.start));
  Show("Entry point", Hex(extent.entry));
  Show("Size", std::to_string(extent.size) + " bytes (erase up to " +
                   Hex(extent.start + extent.size) + ")");
  if (!srecord && !ShowContainerCheck(*image, scratch)) return Verdict(false, "container check");
  if (srecord) {
    Show("SFLD tail", "none (S-record image); the loader takes sfld.hex from its own directory");
  } else if (!ShowSfldTail(path, scratch)) {
    return Verdict(false, "the SFLD tail is not a well-formed S-record file");
  }
  if (!ShowRecords(*image)) return Verdict(false, "read error");
  if (extent.start != PFLD_BASE) return Verdict(false, "the image does not start at 0x10000000");
  return Verdict(true, "");
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  const Options options = ParseOptions(args, {});
  if (options.help) {
    std::cout << InfoUsage();
    return kExitOk;
  }
  if (options.positional.size() != 1) throw UsageError("info takes exactly one IMAGE");
  return Inspect(options.positional[0]);
}

}  // namespace gpsfw::tool
