#include "front/run_facts.h"

#include <cstdio>

#include "platform/clock.h"

namespace gpsfw {

uint64_t RunFacts::SinceStartUs() const {
  const uint64_t now = platform::NowUs();
  return now > startUs ? now - startUs : 0;
}

void TakeFailure(RunFacts& facts, const FailureReason& reason) {
  if (facts.failed) return;
  facts.failed = true;
  std::snprintf(facts.failureCode, sizeof facts.failureCode, "%s", reason.code);
  std::snprintf(facts.failureMessage, sizeof facts.failureMessage, "%s", reason.message);
}

void TakePreparedFacts(RunFacts& facts, const PreparedFacts& prepared) {
  facts.prepared = true;
  facts.srecord = prepared.srecord;
  facts.extent = prepared.extent;
  facts.eraseStart = prepared.eraseStart;
  facts.eraseEnd = prepared.eraseEnd;
  facts.pfldMode = prepared.pfldMode;
  facts.flash = prepared.flash;
  facts.sfldFromTail = prepared.sfldFromTail;
  std::snprintf(facts.sfldPath, sizeof facts.sfldPath, "%s", prepared.sfldPath);
  facts.sfldExtent = prepared.sfldExtent;
  facts.sfld = prepared.sfld;
}

}  // namespace gpsfw
