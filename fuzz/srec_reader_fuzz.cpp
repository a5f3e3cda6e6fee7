// S-record reader: line parsing, extent, and packets with carry-over on arbitrary text.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_file.h"
#include "image/image_source.h"
#include "image/srec_reader.h"

namespace {

gpsfw::RecordPacket g_packet;

void DrainPackets(gpsfw::SRecReader& reader) {
  for (int i = 0; i < gpsfw::fuzz::kMaxPackets; ++i) {
    if (!reader.NextRecord(g_packet) || g_packet.dataCount == 0) return;
    if (g_packet.dataCount > gpsfw::kMaxRecordData || g_packet.length > gpsfw::kFrameCapacity) {
      std::abort();
    }
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text as one line, the way ParseLine hands it over.
  char text[256];
  const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  std::memcpy(text, data, n);
  text[n] = '\0';
  gpsfw::SRecLine line;
  gpsfw::ParseLineText(text, line);
  gpsfw::CheckLineSum(text);

  const std::string path = gpsfw::fuzz::Files().Write("image.srec", data, size);
  gpsfw::SRecReader reader;
  if (!reader.Open(path.c_str())) std::abort();
  if (reader.Probe() && reader.Scan()) {
    reader.Rewind();
    DrainPackets(reader);
    reader.Rewind();
    DrainPackets(reader);
  }
  return 0;
}
