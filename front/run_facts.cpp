#include "front/run_facts.h"

#include <cstdio>

#include "image/image_objects.h"
#include "platform/clock.h"

namespace gpsfw {

uint64_t RunFacts::SinceStartUs() const {
  const uint64_t now = platform::NowUs();
  return now > startUs ? now - startUs : 0;
}

void TakePreparedFacts(RunFacts& facts) {
  ImageSource& image = FirmwareImage();
  facts.prepared = true;
  facts.srecord = image.Type() == kImageSRecord;
  facts.extent = image.Extent();
  // The erase record carries the start and the start plus the size.
  facts.eraseStart = facts.extent.start;
  facts.eraseEnd = facts.extent.start + facts.extent.size;
  facts.pfldMode = PfldMode;
  facts.flash = CountRecords(image);
  facts.sfldExtent = SfldReader().Extent();
  facts.sfld = CountRecords(SfldReader());
}

void TakeSfldSource(RunFacts& facts, bool fromTail, const char* path) {
  facts.sfldKnown = true;
  facts.sfldFromTail = fromTail;
  std::snprintf(facts.sfldPath, sizeof facts.sfldPath, "%s", path);
}

}  // namespace gpsfw
