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
  void OnDone(int returnCode) override;

 private:
  static constexpr size_t kLogCapacity = 16384;

  void WriteAccepted() const;
  void WriteStages() const;
  void WriteFloor() const;
  void WriteRefused(int returnCode) const;
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
};

}  // namespace gpsfw
