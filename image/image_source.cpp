#include "image/image_source.h"

namespace gpsfw {

bool ImageSource::Open(const char* path) {
  binary_.Close();
  if (!srec_.Open(path)) return false;
  if (srec_.Probe()) {
    type_ = kImageSRecord;
    return true;
  }
  srec_.Close();
  if (!binary_.Open(path)) return false;
  type_ = kImageBinary;
  return true;
}

bool ImageSource::Scan() {
  const bool scanned = type_ == kImageSRecord ? srec_.Scan() : binary_.Scan();
  if (!scanned) return false;
  extent_ = type_ == kImageSRecord ? srec_.Extent() : binary_.Extent();
  return true;
}

void ImageSource::Rewind() {
  if (type_ == kImageSRecord) {
    srec_.Rewind();
  } else {
    binary_.Rewind();
  }
}

bool ImageSource::NextRecord(RecordPacket& packet) {
  return type_ == kImageSRecord ? srec_.NextRecord(packet) : binary_.NextRecord(packet);
}

void ImageSource::Close() {
  srec_.Close();
  binary_.Close();
  type_ = kImageBinary;
  extent_ = ImageExtent{};
}

std::FILE* ImageSource::BinaryStream() {
  return type_ == kImageBinary ? binary_.Stream() : nullptr;
}

}  // namespace gpsfw
