#pragma once

#include <cstddef>
#include <cstdio>

#include "front/run_facts.h"
#include "report/observer.h"

namespace gpsfw {

// --check: what an update of this image would do, printed when the run ends. The image has
// been prepared exactly as for an update (the same log lines in the same log); no port is
// opened. An image that is refused gets the verdict, a reason where the log has none, and
// the log's lines.
class CheckReport : public Observer {
 public:
  CheckReport(std::FILE* out, const RunFacts& facts) : out_(out), facts_(facts) {}

  void OnLogLine(const char* line) override;
  void OnDone(int returnCode) override;

 private:
  static constexpr size_t kLogCapacity = 16384;

  void WriteAccepted() const;
  void WriteStages() const;
  void WriteFloor() const;
  void WriteRefused(int returnCode) const;

  std::FILE* out_;
  const RunFacts& facts_;
  char log_[kLogCapacity] = {};
  size_t logUsed_ = 0;
  size_t lastLine_ = 0;  // where the latest line starts in log_
  bool logCut_ = false;
};

}  // namespace gpsfw
