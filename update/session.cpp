#include "update/session.h"

#include <cstring>

#include "image/image_objects.h"
#include "link/link_codes.h"
#include "platform/clock.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "update/extent_log.h"
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
constexpr int kUnansweredPollsBeforeWake = 10;

// The state of the poll loop. After a failed stage, or after an SFLD upload whose SFLD has
// yet to answer, the receiver may have been reset into its application, which listens for
// nothing but the wake sequence: when it then stays without a recognised answer for a
// while, it is woken again. A receiver that has not answered from the start is polled as it
// is.
struct PollLoop {
  PortHandle port;
  uint8_t pollByte = SYNC_CODE;
  bool awaitingTarget = false;
  int unanswered = 0;

  void Answered() {
    awaitingTarget = false;
    unanswered = 0;
  }
  void NotAnswered() {
    if (!awaitingTarget || ++unanswered < kUnansweredPollsBeforeWake) return;
    WakeTarget(port);
    pollByte = SYNC_CODE;
    unanswered = 0;
  }
  void AwaitTarget() {
    awaitingTarget = true;
    unanswered = 0;
  }
};

// The rest of a text reply is taken once it has had time to arrive.
void TakeTextReply(PollLoop& loop) {
  platform::SleepMs(kReplyPauseMs);
  char reply[kReplyBuffer];
  std::memset(reply, 0, sizeof reply);
  reply[0] = static_cast<char>(kTextReplyStart);
  const size_t n = ReadBlock(loop.port, reinterpret_cast<uint8_t*>(reply + 1), kReplyBuffer - 2);
  if (n == 0) return;
  if (std::strstr(reply, "$VER") != nullptr) VersionReport(reply);
  loop.pollByte = REC_POLL_CODE;
  LogWide(L"Wait for REC_WAIT_CODE.");
}

void AskForPfldVersion(PollLoop& loop) {
  if (loop.pollByte == PFLD_VER_CODE) return;
  loop.pollByte = PFLD_VER_CODE;
  LogWide(L"Ask PFLD version.");
}

// The boot loader starts the SFLD after its end record; the SFLD announces itself with
// SYNC_CODE to the next polls.
void StartSfld(PollLoop& loop) {
  loop.AwaitTarget();
  if (!UploadSfld(loop.port, SfldReader())) {
    Observe().OnRetry("SFLD upload failed", "polling the boot loader again");
    Observe().OnPhase(UpdatePhase::kPolling);
    return;
  }
  LogWide(L"Complete.");
  LogWide(L"Wait for SFLD");
  Observe().OnPhase(UpdatePhase::kWaitingForSfld);
  loop.pollByte = SYNC_CODE;
  for (int i = 0; i < kSyncsAfterUpload; ++i) {
    platform::SleepMs(kReplyPauseMs);
    WriteByte(loop.port, SYNC_CODE);
  }
}

bool RunFlashStage(PollLoop& loop) {
  SetBaud(loop.port, kFlashBaud);
  if (FlashUpload(loop.port)) return true;
  Observe().OnRetry("flash stage failed", "repeating the flash stage");
  SetBaud(loop.port, kPollBaud);
  Observe().OnPhase(UpdatePhase::kPolling);
  loop.AwaitTarget();
  return false;
}

// Reacts to one reply; true once the flash stage has succeeded.
bool React(PollLoop& loop, uint8_t reply) {
  switch (reply) {
    case kTextReplyStart:
      loop.Answered();
      TakeTextReply(loop);
      return false;
    case REC_POLL_CODE:
      loop.Answered();
      AskForPfldVersion(loop);
      return false;
    case SYNC_CODE:
      loop.Answered();
      return RunFlashStage(loop);
    case REC_WAIT_CODE:
      loop.Answered();
      StartSfld(loop);
      return false;
    default:
      platform::SleepMs(kReplyPauseMs);
      loop.pollByte = SYNC_CODE;
      loop.NotAnswered();
      return false;
  }
}

}  // namespace

void WakeTarget(PortHandle port) {
  static int wakes = 0;
  Observe().OnPhase(UpdatePhase::kWaking);
  Observe().OnWake(++wakes);
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
  Observe().OnPhase(UpdatePhase::kPolling);
}

bool RunSession(PortHandle port) {
  LogImageExtent(SfldReader().Extent());
  SfldReader().Rewind();
  WakeTarget(port);
  PollLoop loop{port};
  for (;;) {
    WriteByte(port, loop.pollByte);
    platform::SleepMs(kReplyPauseMs);
    uint8_t reply = 0;
    if (!ReadByte(port, reply)) {
      loop.NotAnswered();
      continue;
    }
    if (React(loop, reply)) return true;
  }
}

}  // namespace gpsfw
