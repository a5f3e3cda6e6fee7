#include "tools/gpsfwstation/run/unit_progress.h"

#include <nlohmann/json.hpp>

namespace gpsfw::station {
namespace {

using nlohmann::json;

constexpr char kSfldUpload[] = "sfld_upload";
constexpr char kProgramming[] = "programming";

bool InTransfer(const UnitProgress& p) {
  return p.phase == kSfldUpload || p.phase == kProgramming;
}

void BeginTransfer(UnitProgress& p, double t, uint64_t total) {
  p.transferSince = t;
  p.transferLastT = t;
  p.transferDone = 0;
  p.transferTotal = total;
  p.transferAttempt = -1;
}

bool OnPhase(UnitProgress& p, const json& event) {
  const std::string phase = event.at("phase").get<std::string>();
  if (phase == p.phase) return false;
  p.phase = phase;
  if (phase == kSfldUpload) BeginTransfer(p, p.lastT, p.sfldTotal);
  if (phase == kProgramming) {
    BeginTransfer(p, p.lastT, p.flashTotal);
    p.flashDone = 0;
  }
  return true;
}

void OnRecord(UnitProgress& p, const json& event) {
  const bool flash = event.at("stage").get<std::string>() == "flash";
  const int attempt = event.at("attempt").get<int>();
  // A new attempt of the same stage starts the transfer again from its first record.
  if (InTransfer(p) && attempt != p.transferAttempt) {
    if (p.transferAttempt >= 0) BeginTransfer(p, p.lastT, p.transferTotal);
    p.transferAttempt = attempt;
    if (flash) p.flashDone = 0;
  }
  if (event.at("kind").get<std::string>() != "data") return;
  if (event.at("verdict").get<std::string>() != "accepted") return;
  const uint64_t bytes = event.at("bytes").get<uint64_t>();
  if (flash) p.flashDone += bytes;
  if (InTransfer(p) && flash == (p.phase == kProgramming)) {
    p.transferDone += bytes;
    p.transferLastT = p.lastT;
  }
}

void OnIdentity(UnitProgress& p, const json& event) {
  const auto found = event.find("identity");
  if (found == event.end() || !found->is_object()) return;
  const json& who = *found;
  if (who.contains("boot_loader")) p.bootLoader = who.at("boot_loader").get<std::string>();
  if (who.contains("sfld")) p.sfld = who.at("sfld").get<std::string>();
  if (who.contains("flash_type")) p.flashType = std::to_string(who.at("flash_type").get<int>());
}

void OnDone(UnitProgress& p, const json& event) {
  OnIdentity(p, event);
  p.done = true;
  p.doneCode = event.at("code").get<int>();
  p.doneDuration = event.at("duration").get<double>();
  p.doneBytes = event.at("bytes").get<uint64_t>();
  p.retries = event.at("retries").get<int>();
  if (event.contains("reason") && event.contains("message")) {
    p.doneReason = event.at("reason").get<std::string>();
    p.doneMessage = event.at("message").get<std::string>();
  }
  if (event.contains("log_complete") && !event.at("log_complete").get<bool>()) {
    p.logComplete = false;
  }
}

void OnOutputLost(UnitProgress& p, const json& event) {
  const std::string output = event.at("output").get<std::string>();
  if (output == "log") p.logComplete = false;
  if (!p.outputLost.empty()) return;
  const std::string what = output == "log"      ? "the progress log "
                           : output == "events" ? "the event stream "
                                                : "the " + output + " ";
  p.outputLost =
      what + event.at("path").get<std::string>() + ": " + event.at("message").get<std::string>();
}

bool Apply(UnitProgress& p, const json& event) {
  p.lastT = event.at("t").get<double>();
  const std::string type = event.at("type").get<std::string>();
  if (type == "start") {
    p.flashTotal = event.at("bytes").get<uint64_t>();
    p.sfldTotal = event.at("sfld_bytes").get<uint64_t>();
  } else if (type == "phase") {
    return OnPhase(p, event);
  } else if (type == "record") {
    OnRecord(p, event);
  } else if (type == "retry") {
    ++p.retries;
  } else if (type == "wake") {
    p.wakes = event.at("count").get<int>();
  } else if (type == "identity") {
    OnIdentity(p, event);
  } else if (type == "done") {
    OnDone(p, event);
  } else if (type == "output_lost") {
    OnOutputLost(p, event);
  }
  return false;
}

}  // namespace

int UnitProgress::Percent() const {
  if (done && doneCode == 0) return 100;
  if (!InTransfer(*this) || transferTotal == 0) return -1;
  const uint64_t share = transferDone * 100 / transferTotal;
  return static_cast<int>(share > 100 ? 100 : share);
}

double UnitProgress::Rate() const {
  const double span = transferLastT - transferSince;
  if (transferDone == 0 || span <= 0) return 0;
  return static_cast<double>(transferDone) / span;
}

double UnitProgress::SecondsLeft() const {
  const double rate = Rate();
  if (done || !InTransfer(*this) || rate <= 0 || transferDone > transferTotal) return -1;
  return static_cast<double>(transferTotal - transferDone) / rate;
}

bool ApplyEvent(UnitProgress& progress, const std::string& line) {
  const json event = json::parse(line, nullptr, false);
  if (event.is_discarded() || !event.is_object()) {
    ++progress.badLines;
    return false;
  }
  try {
    return Apply(progress, event);
  } catch (const json::exception&) {
    ++progress.badLines;
    return false;
  }
}

}  // namespace gpsfw::station
