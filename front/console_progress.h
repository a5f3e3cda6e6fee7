#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "front/console_text.h"
#include "front/run_facts.h"
#include "front/terminal.h"
#include "report/observer.h"

namespace gpsfw {

// What a person watching the update sees on standard error: on a terminal one status line
// rewritten in place (phase, counters, rate, time left), in a pipe with --progress plain
// lines; a short line of its own for every retry, line error and lost port; a summary at
// the end. Times come from the platform clock, so a run in virtual time shows virtual time.
class ConsoleProgress : public Observer {
 public:
  ConsoleProgress(std::FILE* out, const ConsoleSetup& setup, const RunFacts& facts)
      : out_(out), setup_(setup), facts_(facts) {}

  void OnPhase(UpdatePhase phase) override;
  void OnWake(int count) override;
  void OnRecord(const RecordReport& record) override;
  void OnSectorErased(uint32_t count) override;
  void OnRetry(const char* what, const char* next) override;
  void OnPortLost() override;
  void OnPortBack() override;
  void OnLineError(uint32_t flags) override;
  void OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) override;
  void OnWaiting(const char* what, uint64_t sinceUs) override;
  void OnFailure(const FailureReason& reason) override;
  void OnWarning(const FailureReason& reason) override;
  void OnDone(int returnCode) override;

 private:
  static constexpr size_t kTextCapacity = 512;

  bool Live() const { return setup_.mode == ConsoleMode::kLive; }
  void StatusText(StatusFields& fields) const;
  void PhaseText(StatusFields& fields) const;
  void PhaseLine(char* out, size_t capacity) const;
  void ProgrammingText(StatusFields& fields) const;
  void EraseText(StatusFields& fields) const;
  void FailureText(char* out, size_t capacity, const char* what, const char* next) const;
  void SummaryText(char* out, size_t capacity, int returnCode) const;
  double ProgrammingRate() const;

  void ShowPhase();
  void DrawStatus();
  void ClearStatus();
  void Line(const char* text, const char* colour, bool stamped = true);
  void PlainLine(const char* text);
  void TakeFlashRecord(const RecordReport& record);
  void ShowPlainDecile();
  void ShowPlainWait();
  void WaitText(StatusFields& fields) const;
  uint64_t WaitSeconds(uint64_t now) const;

  std::FILE* out_;
  ConsoleSetup setup_;
  const RunFacts& facts_;

  UpdatePhase phase_ = UpdatePhase::kPreparing;
  UpdatePhase phaseBeforeLoss_ = UpdatePhase::kPreparing;
  bool phaseKnown_ = false;
  int wakes_ = 0;
  uint32_t sfldRecordsDone_ = 0;
  bool sfldStarted_ = false;  // an SFLD has been uploaded: polls wait for it, or a reset
  uint32_t sectors_ = 0;
  uint32_t sectorsOfLastErase_ = 0;  // known once an erase has completed in this run
  int flashAttempt_ = 0;
  uint64_t flashBytesDone_ = 0;
  uint64_t programmingStartUs_ = 0;
  uint64_t programmingEndUs_ = 0;  // when the end record of the latest stage was accepted
  int retries_ = 0;
  bool failurePending_ = false;
  RecordReport failure_;
  int decileShown_ = 0;
  uint64_t drawnAtUs_ = 0;
  size_t drawnColumns_ = 0;
  bool statusShown_ = false;
  bool failureShown_ = false;
  // The wait the core reported last, shown while it goes on.
  char waitWhat_[96] = {};
  uint64_t waitSinceUs_ = 0;
  uint64_t waitSeenUs_ = 0;
  bool waiting_ = false;
  uint64_t waitShownSeconds_ = 0;  // the seconds of the wait's latest plain line
  int silentWakes_ = 0;            // wake-ups without a byte from the receiver since the last
  bool flashTouched_ = false;      // an erase has begun in this run
};

}  // namespace gpsfw
