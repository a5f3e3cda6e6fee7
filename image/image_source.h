#pragma once

#include <cstdint>
#include <cstdio>

#include "image/bin_image_reader.h"
#include "image/srec_reader.h"
#include "protocol/image_extent.h"
#include "protocol/record_packet.h"

namespace gpsfw {

enum ImageType : uint32_t { kImageBinary = 0, kImageSRecord = 1 };

// A firmware image file read the same way whether it is S-record text or a binary
// container: the first line decides which reader takes it.
class ImageSource {
 public:
  ImageSource() = default;
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;

  bool Open(const char* path);
  bool Scan();
  void Rewind();
  bool NextRecord(RecordPacket& packet);
  // Closes both readers and forgets type and extent.
  void Close();
  ImageType Type() const { return type_; }
  const ImageExtent& Extent() const { return extent_; }
  // The binary reader's stream for the container check; nullptr unless open as binary.
  std::FILE* BinaryStream();
  // SRecReader::TooLongLine of an S-record image; 0 for a binary one.
  int TooLongLine() const { return type_ == kImageSRecord ? srec_.TooLongLine() : 0; }

 private:
  ImageType type_ = kImageBinary;
  SRecReader srec_;
  BinImageReader binary_;
  ImageExtent extent_{};
};

}  // namespace gpsfw
