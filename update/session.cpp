#include "update/session.h"

#include <cstring>

#include "link/port_loss.h"
#include "platform/clock.h"
#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "report/waiting.h"
#include "update/extent_log.h"
#include "update/flash_upload.h"
#include "update/poll_reply.h"
#include "update/receiver_facts.h"
#include "update/sfld_upload.h"
#include "update/version_report.h"

namespace gpsfw {
namespace {

constexpr size_t kReplyBuffer = 4096;
constexpr uint32_t kQuietSliceMs = 1000;

// The state of the poll loop. A receiver that stays without a recognised answer for a while
// may have been reset into its application (which listens for nothing but the wake
// sequence), may have been powered on late, or may have lost its port: it is woken again.
// After a failed flash stage, or before waking, the SFLD may still sit at 115200, where the
// polls reach it garbled and keep it from falling back: the host keeps quiet first.
struct PollLoop {
  RunState& run;
  uint8_t pollByte = SYNC_CODE;
  int unanswered = 0;
  bool quietFirst = false;
  int quietRounds = 0;
  // A flash stage started on a SYNC_CODE went unanswered: the byte was stray, and the next
  // one starts no stage until the receiver has been woken again.
  bool strayStage = false;

  void Answered() {
    unanswered = 0;
    quietRounds = 0;
  }
  void NotAnswered() {
    if (++unanswered < kUnansweredPollsBeforeWake) return;
    WakeAgain();
  }
  // Bytes that answer the polls without leading anywhere hold the session no longer than
  // silence would.
  bool Stalled() const { return platform::NowUs() - run.progressUs >= kStalledSessionWakeUs; }
  void WakeAgain() {
    strayStage = false;
    KeepQuiet();
    WakeTarget(run);
    pollByte = SYNC_CODE;
    unanswered = 0;
  }
  // Before the next poll, once.
  void KeepQuiet() {
    quietFirst = false;
    const int doublings = quietRounds / 2 < 3 ? quietRounds / 2 : 3;
    uint32_t gap = kQuietGapMs << doublings;
    if (gap > kLongestQuietGapMs) gap = kLongestQuietGapMs;
    ++quietRounds;
    // In slices, so that a view's clock runs through a gap of up to half a minute.
    const uint64_t since = platform::NowUs();
    while (gap > 0) {
      const uint32_t slice = gap < kQuietSliceMs ? gap : kQuietSliceMs;
      platform::SleepMs(slice);
      gap -= slice;
      ReportWaiting(run.link.waiting, "a quiet line before the next poll", since);
    }
  }
};

// The rest of a text reply is taken once it has had time to arrive.
void TakeTextReply(PollLoop& loop) {
  platform::SleepMs(kReplyPauseMs);
  char reply[kReplyBuffer];
  std::memset(reply, 0, sizeof reply);
  reply[0] = static_cast<char>(kTextReplyStart);
  const size_t n =
      ReadBlock(loop.run.link, reinterpret_cast<uint8_t*>(reply + 1), kReplyBuffer - 2);
  if (n == 0) return;
  if (std::strstr(reply, "$VER") != nullptr) {
    NoteProgress(loop.run);
    NoteVersion(loop.run, VersionSource::kBootLoader, VersionReport(reply));
  }
  loop.pollByte = REC_POLL_CODE;
  LogWide(L"Wait for REC_WAIT_CODE.");
}

// A version reply found inside noise: the text from its tag on.
void TakeTextInNoise(PollLoop& loop, char* tag) {
  NoteProgress(loop.run);
  NoteVersion(loop.run, VersionSource::kBootLoader, VersionReport(tag));
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
  if (!UploadSfld(loop.run, loop.run.sfld)) {
    Observe().OnRetry("SFLD upload failed", "polling the boot loader again");
    Observe().OnPhase(UpdatePhase::kPolling);
    return;
  }
  NoteProgress(loop.run);
  LogWide(L"Complete.");
  LogWide(L"Wait for SFLD");
  Observe().OnPhase(UpdatePhase::kWaitingForSfld);
  loop.pollByte = SYNC_CODE;
  for (int i = 0; i < kSyncsAfterUpload; ++i) {
    platform::SleepMs(kReplyPauseMs);
    WriteByte(loop.run.link, SYNC_CODE);
  }
}

bool RunFlashStage(PollLoop& loop) {
  SetBaud(loop.run.link, kFlashBaud);
  const uint64_t progressBefore = loop.run.progressUs;
  loop.run.link.talkedOverRecovery = false;
  if (FlashUpload(loop.run)) return true;
  // A stage that was answered gives the recovery its full time from the stage's end, unless
  // it ended in an application's talk (a receiver restarted mid-stage): the time since the
  // last accepted record is the stall.
  const bool talked = loop.run.link.talkedOverRecovery;
  loop.run.link.talkedOverRecovery = false;
  if (loop.run.progressUs != progressBefore && !talked) {
    NoteProgress(loop.run);
  } else {
    loop.strayStage = true;
  }
  Observe().OnRetry("flash stage failed", "repeating the flash stage");
  SetBaud(loop.run.link, kPollBaud);
  Observe().OnPhase(UpdatePhase::kPolling);
  loop.quietFirst = true;
  return false;
}

// Garbled chatter holds every byte value. SYNC_CODE starts a flash stage only as the answer
// to SYNC_CODE (the SFLD announces itself so), and not again after a stage it started went
// unanswered. REC_WAIT_CODE always starts an SFLD upload: a boot loader left waiting for a
// frame answers every poll with it.
PollReply::Kind Plausible(const PollLoop& loop, PollReply::Kind kind) {
  if (kind == PollReply::kSync && (loop.pollByte != SYNC_CODE || loop.strayStage)) {
    return PollReply::kOther;
  }
  return kind;
}

// Reacts to one reply; true once the flash stage has succeeded.
bool React(PollLoop& loop, const PollReply& reply) {
  switch (Plausible(loop, reply.kind)) {
    case PollReply::kText:
      loop.Answered();
      if (reply.tagInNoise != nullptr) {
        TakeTextInNoise(loop, reply.tagInNoise);
      } else {
        TakeTextReply(loop);
      }
      return false;
    case PollReply::kRecPoll:
      loop.Answered();
      AskForPfldVersion(loop);
      return false;
    case PollReply::kSync:
      loop.Answered();
      return RunFlashStage(loop);
    case PollReply::kRecWait:
      loop.Answered();
      StartSfld(loop);
      return false;
    case PollReply::kOther:
      platform::SleepMs(kReplyPauseMs);
      loop.pollByte = SYNC_CODE;
      loop.NotAnswered();
      return false;
  }
  return false;
}

}  // namespace

void WakeTarget(RunState& run) {
  SerialLink& link = run.link;
  Observe().OnPhase(UpdatePhase::kWaking);
  Observe().OnWake(++run.wakes);
  NoteProgress(run);
  LogWide(L"Waiting for target answer at 19200...");
  for (uint32_t baud : kWakeBauds) {
    SetBaud(link, baud);
    WriteBlock(link, WAKE_SEQUENCE, sizeof WAKE_SEQUENCE);
    SetBaud(link, kPollBaud);
    for (int i = 0; i < kWakeSyncs; ++i) {
      if (i > 0) platform::SleepMs(kWakeSyncSpacingMs);
      WriteByte(link, SYNC_CODE);
    }
  }
  Observe().OnPhase(UpdatePhase::kPolling);
}

bool RunSession(RunState& run) {
  SerialLink& link = run.link;
  LogImageExtent(run.sfld.Extent());
  run.sfld.Rewind();
  WakeTarget(run);
  PollLoop loop{run};
  char noise[kReplyBuffer];
  for (;;) {
    if (TimeToGiveUp(run)) return false;
    // A receiver behind a port that went away may have been reset with it; its SFLD, if it
    // kept running, falls back while the host is quiet.
    if (TakePortLoss(link)) {
      SetBaud(link, kPollBaud);
      loop.quietFirst = true;
    }
    if (loop.Stalled()) loop.WakeAgain();
    if (loop.quietFirst) loop.KeepQuiet();
    WriteByte(link, loop.pollByte);
    platform::SleepMs(kReplyPauseMs);
    uint8_t first = 0;
    if (!ReadByte(link, first)) {
      ReportWaiting(run.link.waiting, "an answer from the receiver", run.progressUs);
      loop.NotAnswered();
      continue;
    }
    if (React(loop, ReadPollReply(link, first, noise, sizeof noise))) return true;
  }
}

}  // namespace gpsfw
