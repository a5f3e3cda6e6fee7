#pragma once

#include <cstdint>
#include <cstdio>

#include "front/run_facts.h"
#include "report/observer.h"

namespace gpsfw {

// The run as JSON Lines, one object per event, each line flushed when written: for scripts
// and the production station. The schema is documented in the README; its field names and
// texts are an interface.
class EventStream : public Observer {
 public:
  EventStream(std::FILE* out, const RunFacts& facts) : out_(out), facts_(facts) {}

  void OnPrepared(const PreparedFacts& facts) override;
  void OnPhase(UpdatePhase phase) override;
  void OnWake(int count) override;
  void OnRecord(const RecordReport& record) override;
  void OnSectorErased(uint32_t count) override;
  void OnRetry(const char* what, const char* next) override;
  void OnPortLost() override;
  void OnPortBack() override;
  void OnLineError(uint32_t flags) override;
  void OnAdapterLatency(const char* device, int timerMs, const char* advice) override;
  void OnWarning(const FailureReason& reason) override;
  void OnIdentity(const ReceiverIdentity& identity) override;
  void OnOutputLost(LostOutput what, const char* path, int error) override;
  void OnDone(int returnCode) override;

 private:
  uint64_t Now() const { return facts_.SinceStartUs(); }

  std::FILE* out_;
  const RunFacts& facts_;
  bool phaseKnown_ = false;
  UpdatePhase phase_ = UpdatePhase::kPreparing;
  int retries_ = 0;
  int flashAttempt_ = 0;
  uint64_t flashBytes_ = 0;    // accepted in the latest flash stage
  ReceiverIdentity identity_;  // what the receiver told of itself, for the done event
};

}  // namespace gpsfw
