#include "update/session.h"

#include <cstring>
#include <cwchar>

#include "app/progress_log.h"
#include "image/image_objects.h"
#include "link/link_codes.h"
#include "platform/clock.h"
#include "update/flash_upload.h"
#include "update/sfld_upload.h"
#include "update/version_report.h"

namespace gpsfw {
namespace {

constexpr uint32_t kPollBaud = 19200;
constexpr uint32_t kWakeBauds[] = {4800, 57600};
constexpr uint32_t kFlashBaud = 115200;
constexpr int kWakeSyncs = 4;
constexpr uint32_t kWakeSyncSpacingMs = 400;
constexpr uint32_t kReplyPauseMs = 200;
constexpr int kSyncsAfterUpload = 3;
constexpr size_t kReplyBuffer = 4096;
constexpr uint8_t kTextReplyStart = '$';

void LogExtent(const ImageExtent& extent) {
  wchar_t line[64];
  std::swprintf(line, 64, L"Image Start address: 0x%08X", extent.start);
  LogWide(line);
  std::swprintf(line, 64, L"Image Entry point: 0x%08X", extent.entry);
  LogWide(line);
  std::swprintf(line, 64, L"Image Size: %lu bytes", static_cast<unsigned long>(extent.size));
  LogWide(line);
}

// The rest of a text reply is taken once it has had time to arrive.
void TakeTextReply(PortHandle port, uint8_t& pollByte) {
  platform::SleepMs(kReplyPauseMs);
  char reply[kReplyBuffer];
  std::memset(reply, 0, sizeof reply);
  reply[0] = static_cast<char>(kTextReplyStart);
  const size_t n = ReadBlock(port, reinterpret_cast<uint8_t*>(reply + 1), kReplyBuffer - 2);
  if (n == 0) return;
  if (std::strstr(reply, "$VER") != nullptr) VersionReport(reply);
  pollByte = REC_POLL_CODE;
  LogWide(L"Wait for REC_WAIT_CODE.");
}

void AskForPfldVersion(uint8_t& pollByte) {
  if (pollByte == PFLD_VER_CODE) return;
  pollByte = PFLD_VER_CODE;
  LogWide(L"Ask PFLD version.");
}

// The boot loader starts the SFLD after its end record; the SFLD announces itself with
// SYNC_CODE to the next polls.
void StartSfld(PortHandle port, uint8_t& pollByte) {
  if (!UploadSfld(port, SfldReader())) return;
  LogWide(L"Complete.");
  LogWide(L"Wait for SFLD");
  pollByte = SYNC_CODE;
  for (int i = 0; i < kSyncsAfterUpload; ++i) {
    platform::SleepMs(kReplyPauseMs);
    WriteByte(port, SYNC_CODE);
  }
}

bool RunFlashStage(PortHandle port) {
  SetBaud(port, kFlashBaud);
  if (FlashUpload(port)) return true;
  SetBaud(port, kPollBaud);
  return false;
}

}  // namespace

void WakeTarget(PortHandle port) {
  LogWide(L"Waiting for target answer at 19200...");
  // The receiver's application listens at 4800 or 57600, depending on its configuration;
  // its boot loader then listens at 19200.
  for (uint32_t baud : kWakeBauds) {
    SetBaud(port, baud);
    WriteBlock(port, WAKE_SEQUENCE, sizeof WAKE_SEQUENCE);
    SetBaud(port, kPollBaud);
    for (int i = 0; i < kWakeSyncs; ++i) {
      if (i > 0) platform::SleepMs(kWakeSyncSpacingMs);
      WriteByte(port, SYNC_CODE);
    }
  }
}

bool RunSession(PortHandle port) {
  LogExtent(SfldReader().Extent());
  SfldReader().Rewind();
  WakeTarget(port);
  uint8_t pollByte = SYNC_CODE;
  for (;;) {
    WriteByte(port, pollByte);
    platform::SleepMs(kReplyPauseMs);
    uint8_t reply = 0;
    if (!ReadByte(port, reply)) continue;
    switch (reply) {
      case kTextReplyStart:
        TakeTextReply(port, pollByte);
        break;
      case REC_POLL_CODE:
        AskForPfldVersion(pollByte);
        break;
      case SYNC_CODE:
        if (RunFlashStage(port)) return true;
        break;
      case REC_WAIT_CODE:
        StartSfld(port, pollByte);
        break;
      default:
        platform::SleepMs(kReplyPauseMs);
        pollByte = SYNC_CODE;
        break;
    }
  }
}

}  // namespace gpsfw
