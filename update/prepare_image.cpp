#include "update/prepare_image.h"

#include "image/container_check.h"
#include "image/image_objects.h"
#include "image/sfld_loader.h"
#include "image/wide_format.h"
#include "platform/text.h"
#include "protocol/link_codes.h"
#include "report/progress_log.h"
#include "update/extent_log.h"

namespace gpsfw {
namespace {

constexpr size_t kMessageCapacity = kPathCapacity + 64;

void LogWithPath(const wchar_t* format, const wchar_t* imagePath) {
  wchar_t message[kMessageCapacity];
  FormatWide(message, kMessageCapacity, format, imagePath);
  LogWide(message);
}

// Type line, extent or container check. False when the image is refused.
bool CheckOpenedImage(ImageSource& image) {
  const bool srecord = image.Type() == kImageSRecord;
  LogWide(srecord ? L"Image type: Motorola S-Record" : L"Image type: Binary");
  if (srecord) {
    LogImageExtent(image.Extent());
  } else {
    uint32_t pfldChecksum = 0;
    if (!CheckContainer(image.BinaryStream(), &pfldChecksum)) return false;
  }
  return image.Extent().start == PFLD_BASE;
}

}  // namespace

bool PrepareImage(const wchar_t* imagePath) {
  if (!LoadSfld(imagePath)) return false;
  char narrowPath[kPathCapacity];
  platform::NarrowFromWide(narrowPath, sizeof narrowPath, imagePath);
  ImageSource& image = FirmwareImage();
  if (!image.Open(narrowPath)) {
    LogWithPath(L"File open error (%ls)", imagePath);
    return false;
  }
  PfldMode = false;
  LogWithPath(L"Opening '%ls' ...", imagePath);
  if (!image.Scan()) {
    LogWithPath(L"Image Format Error (%ls)", imagePath);
    return false;
  }
  if (!CheckOpenedImage(image)) return false;
  // A binary container always carries a PFLD, and an S-record image must start at
  // PFLD_BASE, so every accepted image rewrites the PFLD area. The question has nobody to
  // ask on this device; the message hook answers yes.
  ReportMessage(L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                kMessageQuestion);
  LogWide(L"PFLD mode ... On");
  PfldMode = true;
  LogWide(L"Complete");
  return true;
}

}  // namespace gpsfw
