#include "update/prepare_image.h"

#include "image/container_check.h"
#include "image/image_file_check.h"
#include "image/sfld_loader.h"
#include "image/wide_format.h"
#include "platform/text.h"
#include "protocol/link_codes.h"
#include "report/failure_reason.h"
#include "report/progress_log.h"
#include "update/extent_log.h"
#include "update/record_census.h"

namespace gpsfw {
namespace {

constexpr size_t kMessageCapacity = kPathCapacity + 64;

void LogWithPath(const wchar_t* format, const wchar_t* imagePath) {
  wchar_t message[kMessageCapacity];
  FormatWide(message, kMessageCapacity, format, imagePath);
  LogWide(message);
}

void ReportImageFailure(const char* path, const FailureReason& why) {
  ReportFailure(MakeReason(why.code, "image '%s': %s", path, why.message));
}

// Type line, extent or container check. False when the image is refused.
bool CheckOpenedImage(ImageSource& image, const char* path) {
  const bool srecord = image.Type() == kImageSRecord;
  LogWide(srecord ? L"Image type: Motorola S-Record" : L"Image type: Binary");
  if (srecord) {
    LogImageExtent(image.Extent());
  } else {
    uint32_t pfldChecksum = 0;
    FailureReason why = MakeReason("image_format", "refused by the container check");
    if (!CheckContainer(image.BinaryStream(), &pfldChecksum, &why)) {
      ReportImageFailure(path, why);
      return false;
    }
  }
  if (image.Extent().start == PFLD_BASE) return true;
  ReportImageFailure(path, MakeReason("image_format", "it does not start at the PFLD's address"));
  return false;
}

// Read once per run, so that whoever watches the run never reads an image again.
PreparedFacts FactsOf(RunState& run, ImageSource& image) {
  PreparedFacts facts;
  facts.srecord = image.Type() == kImageSRecord;
  facts.extent = image.Extent();
  facts.eraseStart = facts.extent.start;
  facts.eraseEnd = EraseEnd(facts.extent);
  facts.pfldMode = run.pfldMode;
  facts.flash = CountRecords(image, run.packet);
  facts.sfldFromTail = run.sfldOrigin.fromTail;
  facts.sfldPath = run.sfldOrigin.path;
  facts.sfldNotReplaced = run.sfldOrigin.notReplaced;
  facts.sfldExtent = run.sfld.Extent();
  facts.sfld = CountRecords(run.sfld, run.packet);
  return facts;
}

}  // namespace

bool PrepareImage(RunState& run, const wchar_t* imagePath) {
  char narrowPath[kPathCapacity];
  platform::NarrowFromWide(narrowPath, sizeof narrowPath, imagePath);
  // An image that cannot be used is the run's cause, also when the SFLD fails first.
  FailureReason why;
  const bool usable = ImageFileUsable(narrowPath, &why);
  if (!usable) ReportImageFailure(narrowPath, why);
  if (!LoadSfld(imagePath, run.sfld, &run.sfldOrigin)) {
    // An image cut short has no tail either: its own cause is the one the user can act on.
    FailureReason cut;
    if (usable && BinaryImageCutShort(narrowPath, &cut)) ReportImageFailure(narrowPath, cut);
    ReportFailure(MakeReason("sfld_missing",
                             "no SFLD: image '%s' carries no valid SFLD tail and '%s' cannot be "
                             "opened or read",
                             narrowPath, run.sfldOrigin.path));
    return false;
  }
  if (usable && !run.sfldOrigin.fromTail && ImageCarriesSfldTail(narrowPath)) {
    ReportWarning(MakeReason("sfld_tail_damaged",
                             "the SFLD tail of image '%s' is damaged; the SFLD from '%s' is used "
                             "instead",
                             narrowPath, run.sfldOrigin.path));
  }
  ImageSource& image = run.firmware;
  if (!image.Open(narrowPath)) {
    LogWithPath(L"File open error (%ls)", imagePath);
    if (usable) ReportImageFailure(narrowPath, MakeReason("image_unreadable", "cannot be read"));
    return false;
  }
  run.pfldMode = false;
  LogWithPath(L"Opening '%ls' ...", imagePath);
  if (!image.Scan()) {
    LogWithPath(L"Image Format Error (%ls)", imagePath);
    const int longLine = image.TooLongLine();
    if (usable && longLine != 0) {
      ReportImageFailure(narrowPath, MakeReason("image_format",
                                                "line %d is longer than the %d characters an "
                                                "S-record line may have here",
                                                longLine, kSRecLongestLine));
    } else if (usable) {
      ReportImageFailure(narrowPath, MakeReason("image_format", "not a valid image"));
    }
    return false;
  }
  if (!CheckOpenedImage(image, narrowPath)) return false;
  // A binary container always carries a PFLD, and an S-record image must start at
  // PFLD_BASE, so every accepted image rewrites the PFLD area. The question has nobody to
  // ask on this device; the message hook answers yes.
  ReportMessage(L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                kMessageQuestion);
  LogWide(L"PFLD mode ... On");
  run.pfldMode = true;
  LogWide(L"Complete");
  run.prepared = FactsOf(run, image);
  return true;
}

}  // namespace gpsfw
