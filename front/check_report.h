#pragma once

#include <cstddef>
#include <cstdio>

#include "front/run_facts.h"
#include "report/observer.h"

namespace gpsfw {

// --check: what an update of this image would do, printed when the run ends. The image has
// been prepared exactly as for an update (the same log lines in the same log); no port is
// opened. An image that is refused gets the verdict, a reason where the log has none, and
// the log's lines. With `json` the report is one JSON object of the same facts and verdict,
// and nothing else is written (check_json.cpp).
class CheckReport : public Observer {
 public:
  CheckReport(std::FILE* out, const RunFacts& facts, bool json = false)
      : out_(out), facts_(facts), json_(json) {}

  void OnLogLine(const char* line) override;
  void OnWarning(const FailureReason& reason) override;
  void OnDone(int returnCode) override;

 private:
  static constexpr size_t kLogCapacity = 16384;
  static constexpr size_t kMaxWarnings = 4;
  static constexpr size_t kCodeCapacity = 48;

  void WriteAccepted() const;
  void WriteStages() const;
  void WriteFloor() const;
  void WriteRefused(int returnCode) const;
  void WriteWarnings() const;
  void WriteJson(int returnCode) const;
  // The refusal of an image that does not start at PFLD_BASE, which logs no reason.
  bool StartRefused() const;

  std::FILE* out_;
  const RunFacts& facts_;
  char log_[kLogCapacity] = {};
  size_t logUsed_ = 0;
  size_t lastLine_ = 0;  // where the latest line starts in log_
  bool logCut_ = false;
  bool json_ = false;
  // What preparation worked around (a damaged SFLD tail replaced by sfld.hex): the image is
  // usable, but not as it was meant to be.
  char warningCodes_[kMaxWarnings][kCodeCapacity] = {};
  char warnings_[kMaxWarnings][FailureReason::kMessageCapacity] = {};
  size_t warningCount_ = 0;
};

}  // namespace gpsfw
