// Binary images: the image source's choice of reader, the container check on the binary
// stream, and the packets of the binary reader.
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "image/container_check.h"
#include "image/image_source.h"

namespace {

gpsfw::RecordPacket g_packet;
gpsfw::ImageSource g_image;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = gpsfw::fuzz::Files().Write("image.bin", data, size);
  if (!g_image.Open(path.c_str())) std::abort();
  if (g_image.Scan()) {
    if (g_image.Type() == gpsfw::kImageBinary) {
      uint32_t pfldChecksum = 0;
      gpsfw::CheckContainer(g_image.BinaryStream(), &pfldChecksum);
    }
    g_image.Rewind();
    uint64_t sent = 0;
    for (int i = 0; i < gpsfw::fuzz::kMaxPackets; ++i) {
      if (!g_image.NextRecord(g_packet) || g_packet.dataCount == 0) break;
      sent += g_packet.dataCount;
      // A binary reader never hands out more than the file holds.
      if (g_image.Type() == gpsfw::kImageBinary && sent > size) std::abort();
    }
  }
  g_image.Close();
  return 0;
}
