#include "front/event_stream.h"

#include <cstring>

#include "front/json_text.h"
#include "front/protocol_names.h"

namespace gpsfw {

void EventStream::OnPrepared(const PreparedFacts& /*facts*/) {
  JsonLine line(out_, Now(), "start");
  line.Text("image", facts_.image)
      .Text("image_type", facts_.srecord ? "srec" : "binary")
      .Address("start", facts_.extent.start)
      .Address("entry", facts_.extent.entry)
      .Int("size", facts_.extent.size)
      .Address("erase_start", facts_.eraseStart)
      .Address("erase_end", facts_.eraseEnd)
      .Int("records", facts_.flash.records)
      .Int("bytes", static_cast<long long>(facts_.flash.bytes))
      .Text("sfld_source", facts_.sfldFromTail ? "tail" : "file")
      .Text("sfld_path", facts_.sfldPath)
      .Int("sfld_records", facts_.sfld.records)
      .Int("sfld_bytes", static_cast<long long>(facts_.sfld.bytes))
      .Text("port", facts_.port);
}

void EventStream::OnPhase(UpdatePhase phase) {
  // The core reports a phase where it may already be in it; the stream tells changes only.
  if (phaseKnown_ && phase == phase_) return;
  phaseKnown_ = true;
  phase_ = phase;
  JsonLine(out_, Now(), "phase").Text("phase", PhaseName(phase));
}

void EventStream::OnWake(int count) {
  JsonLine(out_, Now(), "wake").Int("count", count);
}

void EventStream::OnRecord(const RecordReport& record) {
  const bool flash = record.stage == RecordStage::kFlash;
  if (flash && record.attempt != flashAttempt_) {
    flashAttempt_ = record.attempt;
    flashBytes_ = 0;
  }
  if (flash && record.outcome == RecordOutcome::kAccepted) flashBytes_ += record.dataBytes;
  JsonLine(out_, Now(), "record")
      .Text("stage", flash ? "flash" : "sfld")
      .Text("kind", RecordKindName(record.index))
      .Int("index", record.index)
      .Address("address", record.address)
      .Int("bytes", record.dataBytes)
      .Text("verdict", OutcomeName(record))
      .Int("attempt", record.attempt);
}

void EventStream::OnSectorErased(uint32_t count) {
  JsonLine(out_, Now(), "sector_erased").Int("count", count);
}

void EventStream::OnRetry(const char* what, const char* next) {
  ++retries_;
  JsonLine(out_, Now(), "retry").Text("what", what).Text("next", next);
}

void EventStream::OnPortLost() {
  JsonLine(out_, Now(), "port_lost").Text("port", facts_.port);
}

void EventStream::OnPortBack() {
  JsonLine(out_, Now(), "port_back").Text("port", facts_.port);
}

void EventStream::OnLineError(uint32_t flags) {
  const char* names[kLineErrorKinds];
  const size_t count = LineErrorNames(flags, names);
  JsonLine(out_, Now(), "line_error").Int("flags", flags).Texts("names", names, count);
}

void EventStream::OnWarning(const FailureReason& reason) {
  JsonLine(out_, Now(), "warning").Text("reason", reason.code).Text("message", reason.message);
}

namespace {

const char* LostOutputName(LostOutput what) {
  switch (what) {
    case LostOutput::kLog:
      return "log";
    case LostOutput::kEvents:
      return "events";
    case LostOutput::kTrace:
      return "trace";
  }
  return "log";
}

}  // namespace

void EventStream::OnOutputLost(LostOutput what, const char* path, int error) {
  JsonLine(out_, Now(), "output_lost")
      .Text("output", LostOutputName(what))
      .Text("path", path != nullptr ? path : "")
      .Text("message", std::strerror(error));
}

namespace {

// The parts of the identity that are known, as the object "identity".
void WriteIdentity(JsonLine& line, const ReceiverIdentity& identity) {
  line.Begin("identity");
  if (identity.bootLoader[0] != '\0') line.Text("boot_loader", identity.bootLoader);
  if (identity.sfld[0] != '\0') line.Text("sfld", identity.sfld);
  if (identity.flashTypeKnown) line.Int("flash_type", identity.flashType);
  line.End();
}

}  // namespace

void EventStream::OnIdentity(const ReceiverIdentity& identity) {
  identity_ = identity;
  JsonLine line(out_, Now(), "identity");
  WriteIdentity(line, identity_);
}

void EventStream::OnDone(int returnCode) {
  const uint64_t now = Now();
  JsonLine line(out_, now, "done");
  line.Int("code", returnCode)
      .Seconds("duration", now)
      .Int("bytes", static_cast<long long>(flashBytes_))
      .Int("retries", retries_)
      .Bool("log_complete", facts_.logComplete);
  // A failed run says why; a run that succeeded has no reason.
  if (returnCode != 0 && facts_.failed) {
    line.Text("reason", facts_.failureCode).Text("message", facts_.failureMessage);
  }
  WriteIdentity(line, identity_);
}

void EventStream::OnAdapterLatency(const char* device, int timerMs, const char* advice) {
  JsonLine(out_, Now(), "adapter")
      .Text("device", device)
      .Int("latency_timer_ms", timerMs)
      .Text("message", advice);
}

}  // namespace gpsfw
