#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/stdio_file.h"
#include "protocol/image_extent.h"
#include "protocol/record_packet.h"

namespace gpsfw {

// Results of BinImageReader::ReadChunk.
inline constexpr int kChunkError = 0;
inline constexpr int kChunkData = 1;
inline constexpr int kChunkEnd = 2;

// Reads a raw binary container: the file from offset 0 up to the FW checksum word, as
// packets of 2048 bytes addressed from PFLD_BASE upward.
class BinImageReader {
 public:
  BinImageReader() = default;
  ~BinImageReader() { Close(); }
  BinImageReader(const BinImageReader&) = delete;
  BinImageReader& operator=(const BinImageReader&) = delete;

  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  // Takes the size from the FW header; false when the FW start word is not FW_BASE.
  bool Scan();
  void Rewind();
  bool NextRecord(RecordPacket& packet);
  // One read of at most `limit` bytes, cut at the FW end; `count` is what remains.
  int ReadChunk(uint8_t* buffer, size_t limit, size_t& count);
  const ImageExtent& Extent() const { return extent_; }
  // The open stream, for the container check; nullptr when closed.
  std::FILE* Stream() const { return file_.Get(); }

 private:
  StdioFile file_;
  ImageExtent extent_{};
  uint32_t current_ = 0;
};

}  // namespace gpsfw
