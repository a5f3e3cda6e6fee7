#pragma once

#include <cstddef>
#include <cstdint>

#include "report/failure_reason.h"
#include "report/prepared_facts.h"
#include "report/receiver_identity.h"

namespace gpsfw {

// What an update is doing, for whoever watches it beside the progress log.
enum class UpdatePhase {
  kPreparing,       // the image and the SFLD are being checked
  kWaking,          // the wake sequence goes out
  kPolling,         // waiting for the boot loader (or the SFLD) to answer a poll
  kSfldUpload,      // the SFLD goes into the receiver's RAM
  kWaitingForSfld,  // the SFLD has been sent; waiting for it to answer
  kFlashQueries,    // version and flash type, boot mode
  kErasing,         // the erase command and its sector reports
  kProgramming,     // the image's records
  kPortLost,        // the serial device has gone; waiting for it to come back
  kDone,            // the run has ended
};

enum class RecordStage { kSfld, kFlash };

// How one record exchange ended. kAccepted and the rejections carry the target's byte.
enum class RecordOutcome {
  kAccepted,
  kRejected,   // an error byte; `verdict` holds it
  kNoRequest,  // the target never asked for the record (no REC_WAIT_CODE)
  kNoVerdict,  // the frame went out and no verdict came
};

enum class WireDirection { kToTarget, kFromTarget };

// An output the user asked for that stopped being written during the run.
enum class LostOutput { kLog, kEvents, kTrace };

// One record as it was offered to the target.
struct RecordReport {
  RecordStage stage = RecordStage::kFlash;
  int index = 0;           // data record number from 0 in this attempt; -1 end, -2 erase range
  uint32_t address = 0;    // the packet's address (the start for the erase range, 0 for the end)
  uint32_t dataBytes = 0;  // data bytes in the record
  RecordOutcome outcome = RecordOutcome::kAccepted;
  uint8_t verdict = 0;  // the target's answer byte when there was one
  int attempt = 1;      // the how-manieth attempt of this stage, from 1
};

inline constexpr int kEndRecordIndex = -1;
inline constexpr int kEraseRecordIndex = -2;

// Receives what the loader's core does. The core never prints; the front end installs an
// observer that turns these calls into a console line, an event stream or a trace. Every
// method has an empty default, so that an observer takes only what it needs. Calls come on
// the loader's one thread, from inside the protocol: they must not block for long.
class Observer {
 public:
  virtual ~Observer() = default;

  // Image preparation has succeeded; `facts` tells what it found.
  virtual void OnPrepared(const PreparedFacts& /*facts*/) {}
  virtual void OnPhase(UpdatePhase /*phase*/) {}
  // One wake-up has been sent; `count` counts them from 1.
  virtual void OnWake(int /*count*/) {}
  virtual void OnRecord(const RecordReport& /*record*/) {}
  // The target reported one more erased sector; `count` from 1 within this erase.
  virtual void OnSectorErased(uint32_t /*count*/) {}
  // A stage failed or a wait ran out; `what` says what, `next` what the loader does now.
  virtual void OnRetry(const char* /*what*/, const char* /*next*/) {}
  virtual void OnPortLost() {}
  virtual void OnPortBack() {}
  // Line error flags (kCe* values) that a read or write found pending.
  virtual void OnLineError(uint32_t /*flags*/) {}
  // The USB adapter behind the port holds received bytes for `timerMs` before it passes them
  // on, and the port could not be set to low latency; `advice` says what it costs and the fix.
  virtual void OnAdapterLatency(const char* /*device*/, int /*timerMs*/, const char* /*advice*/) {}
  // Bytes that went out to the driver or came in from it, with the line's rate.
  virtual void OnWire(WireDirection /*direction*/, const uint8_t* /*bytes*/, size_t /*count*/,
                      uint32_t /*baud*/) {}
  // One line went into the progress log (8-bit text without its line end).
  virtual void OnLogLine(const char* /*line*/) {}
  // The cause of the run's failure, reported by the step that found it, before the run
  // ends; the first one reported is the run's cause.
  virtual void OnFailure(const FailureReason& /*reason*/) {}
  // Something the run worked around that a person should know (a fallback taken).
  virtual void OnWarning(const FailureReason& /*reason*/) {}
  // A wait with nothing else to report: `what` is awaited since `sinceUs` (platform clock).
  // Called from the long waits at most about once a second, so that a view can show its
  // clock running.
  virtual void OnWaiting(const char* /*what*/, uint64_t /*sinceUs*/) {}
  // The receiver told one more part of what it is; `identity` holds every part known so far
  // in this run (a part told again replaces the earlier text).
  virtual void OnIdentity(const ReceiverIdentity& /*identity*/) {}
  // Other programs hold the port open beside the loader and may take the receiver's answers:
  // `holders` names them ("PID 123 (minicom)"). Reported before the first wake-up; a warning
  // (OnWarning) follows.
  virtual void OnPortShared(const char* /*holders*/) {}
  // Writing `what` at `path` failed with `error` (an errno): what was asked for is no longer
  // complete. Reported once per output, when the failure is found; the update goes on.
  virtual void OnOutputLost(LostOutput /*what*/, const char* /*path*/, int /*error*/) {}
  // The run ends with `returnCode` (after the "RetCode" line has been written).
  virtual void OnDone(int /*returnCode*/) {}
};

// The process-wide observer; one that does nothing until the front end installs its own.
Observer& Observe();
// nullptr brings back the observer that does nothing.
void InstallObserver(Observer* observer);

}  // namespace gpsfw
