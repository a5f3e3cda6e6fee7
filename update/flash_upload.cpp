#include "update/flash_upload.h"

#include <cstring>
#include <cwchar>

#include "link/port_loss.h"
#include "link/record_transfer.h"
#include "platform/clock.h"
#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "report/waiting.h"
#include "update/receiver_facts.h"
#include "update/record_stream.h"
#include "update/version_report.h"

namespace gpsfw {
namespace {

constexpr size_t kReplyBuffer = 256;

// Asks until the SFLD answers with its version; returns where the "$VER" tag starts. An SFLD
// that has gone back to 19200, or a SYNC_CODE that came from something else, never answers:
// then nullptr, and the session starts over.
char* QueryVersion(SerialLink& link, char* reply) {
  const uint64_t deadline = platform::NowUs() + kVersionQueryLimitUs;
  while (platform::NowUs() < deadline && !PortLossPending(link)) {
    WriteByte(link, VER_QUERY_CODE);
    platform::SleepMs(kVersionReplyPauseMs);
    std::memset(reply, 0, kReplyBuffer);
    if (ReadBlock(link, reinterpret_cast<uint8_t*>(reply), kReplyBuffer - 1) == 0) continue;
    if (char* tag = std::strstr(reply, "$VER")) return tag;
  }
  return nullptr;
}

// The type is only reported; nothing depends on it.
void QueryFlashType(RunState& run, char* reply) {
  SerialLink& link = run.link;
  WriteByte(link, TYPE_QUERY_CODE);
  platform::SleepMs(kTypeReplyPauseMs);
  if (ReadBlock(link, reinterpret_cast<uint8_t*>(reply), kReplyBuffer - 1) == 0) return;
  for (size_t i = 0; i + 1 < kReplyBuffer && reply[i] != '\0'; ++i) {
    if (static_cast<uint8_t>(reply[i]) != TYPE_QUERY_CODE) continue;
    wchar_t line[kReplyBuffer];
    const int type = static_cast<int8_t>(reply[i + 1]);
    std::swprintf(line, kReplyBuffer, L"TypeID:%d", type);
    LogWide(line);
    NoteFlashType(run, type);
    return;
  }
}

bool EnterBootMode(SerialLink& link) {
  LogWide(L"Entering boot mode...");
  WriteByte(link, BOOT_MODE_CODE);
  if (!WaitForByte(link, BOOT_MODE_CODE)) {
    LogWide(L"Failed");
    return false;
  }
  LogWide(L"Complete");
  return true;
}

bool EraseImageRange(RunState& run, const ImageExtent& extent) {
  WriteByte(run.link, SYNC_CODE);
  LogWide(L"Erasing FLASH...");
  platform::SleepMs(kEraseCommandGapMs);
  WriteByte(run.link, ERASE_CODE);
  if (!WaitForByte(run.link, SYNC_CODE)) return false;
  RecordPacket erase{};
  MakeEraseRecord(erase, extent.start, EraseEnd(extent));
  const RecordVerdict verdict = SendRecordChecked(run.link, erase);
  ReportRecord(RecordStage::kFlash, kEraseRecordIndex, erase, run.flashStages, verdict);
  if (!verdict.Accepted()) return false;
  return EraseProgress(run.link);
}

bool SendImageRecords(RunState& run, ImageSource& source) {
  switch (SendRecordStream(run.link, source, RecordStage::kFlash, run.flashStages)) {
    case StreamEnd::kComplete:
      LogWide(L"FLASH Programing Complete.");
      return true;
    case StreamEnd::kReadError:
      LogWide(L"Image read error.");
      return false;
    case StreamEnd::kRefused:
      break;
  }
  return false;
}

}  // namespace

bool EraseProgress(SerialLink& link) {
  uint16_t sectors = 0;
  uint64_t lastReportUs = platform::NowUs();
  for (;;) {
    uint8_t byte = 0;
    // The erase of a large range takes as long as it takes, but every sector reports: a
    // long silence means the receiver has gone (reset, lost port).
    if (!ReadByte(link, byte)) {
      if (PortLossPending(link) || platform::NowUs() - lastReportUs >= kEraseSilenceLimitUs) {
        LogWide(L"FLASH erase failure.");
        return false;
      }
      ReportWaiting(link.waiting, "the erase's next sector report", lastReportUs);
      continue;
    }
    lastReportUs = platform::NowUs();
    if (byte == SYNC_CODE) {
      LogWide(L"FLASH erasing complete.");
      return true;
    }
    if (byte == ERASE_FAIL_CODE) {
      LogWide(L"Flash erase failure.");
      return false;
    }
    wchar_t line[48];
    if (byte != SECTOR_ERASED_CODE) {
      std::swprintf(line, 48, L"Unknown command 0x%02X.", byte);
      LogWide(line);
      LogWide(L"FLASH erase failure.");
      return false;
    }
    ++sectors;
    std::swprintf(line, 48, L"%i sectors erased.", sectors);
    LogWide(line);
    Observe().OnSectorErased(sectors);
  }
}

bool ProgramFlash(RunState& run, ImageSource& source) {
  if (run.pfldMode && !EnterBootMode(run.link)) return false;
  LogWide(L"FLASHProgram Begin");
  source.Rewind();
  Observe().OnPhase(UpdatePhase::kErasing);
  if (!EraseImageRange(run, source.Extent())) return false;
  LogWide(L"Complete.");
  LogWide(L"FLASH Programming...");
  Observe().OnPhase(UpdatePhase::kProgramming);
  return SendImageRecords(run, source);
}

bool FlashUpload(RunState& run) {
  ++run.flashStages;
  Observe().OnPhase(UpdatePhase::kFlashQueries);
  char reply[kReplyBuffer];
  char* version = QueryVersion(run.link, reply);
  if (version != nullptr) {
    NoteProgress(run);
    NoteVersion(run, VersionSource::kSfld, VersionReport(version));
    QueryFlashType(run, reply);
  }
  if (version == nullptr || !ProgramFlash(run, run.firmware)) {
    LogWide(L"FLASH upload failed.");
    return false;
  }
  LogWide(L"FLASH upload complete.");
  return true;
}

}  // namespace gpsfw
