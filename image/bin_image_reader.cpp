#include "image/bin_image_reader.h"

#include "image/container_layout.h"

namespace gpsfw {

bool BinImageReader::Open(const char* path) {
  Close();
  return file_.Open(path, "rb");
}

void BinImageReader::Close() {
  file_.Close();
  extent_ = ImageExtent{};
  current_ = 0;
}

bool BinImageReader::Scan() {
  extent_.start = PFLD_BASE;
  extent_.entry = PFLD_BASE;
  if (!file_.IsOpen()) return false;
  uint32_t fwStart = 0;
  uint32_t fwEnd = 0;
  if (!ReadWordAt(file_.Get(), kFwHeaderOffset, fwStart) || fwStart != FW_BASE) return false;
  if (!ReadWord(file_.Get(), fwEnd)) return false;
  file_.ToStart();
  extent_.size = fwEnd - PFLD_BASE;
  return true;
}

void BinImageReader::Rewind() {
  file_.ToStart();
  current_ = extent_.start;
}

int BinImageReader::ReadChunk(uint8_t* buffer, size_t limit, size_t& count) {
  count = 0;
  if (!file_.IsOpen()) return kChunkError;
  std::FILE* stream = file_.Get();
  count = std::fread(buffer, 1, limit, stream);
  if (std::ferror(stream)) return kChunkError;
  if (count == 0) return kChunkEnd;
  const long position = std::ftell(stream);
  if (position < 0) return kChunkError;
  // The FW checksum word and anything behind it (an SFLD tail) are never sent.
  if (static_cast<uint64_t>(position) > extent_.size) {
    const uint64_t beyond = static_cast<uint64_t>(position) - extent_.size;
    count = beyond >= count ? 0 : count - static_cast<size_t>(beyond);
    std::fseek(stream, 0, SEEK_END);
  }
  return kChunkData;
}

bool BinImageReader::NextRecord(RecordPacket& packet) {
  Reset(packet);
  uint8_t chunk[kMaxRecordData];
  size_t count = 0;
  if (ReadChunk(chunk, sizeof chunk, count) == kChunkError) return false;
  uint16_t elements[kMaxRecordData];
  for (size_t i = 0; i < count; ++i) elements[i] = chunk[i];
  Append(packet, current_, static_cast<uint16_t>(count), elements);
  Seal(packet);
  current_ += static_cast<uint32_t>(count);
  return true;
}

}  // namespace gpsfw
