#include "update/record_census.h"

#include "protocol/record_packet.h"

namespace gpsfw {
namespace {

// One packet for every census: a packet is some 6 KiB, and the loader does not allocate.
RecordPacket g_packet;

template <typename Reader>
RecordCensus Count(Reader& reader) {
  RecordCensus census;
  reader.Rewind();
  for (;;) {
    if (!reader.NextRecord(g_packet)) break;
    if (g_packet.dataCount == 0) {
      MakeEndRecord(g_packet);
      census.frameBytes += g_packet.length;
      census.complete = true;
      break;
    }
    ++census.records;
    census.bytes += g_packet.dataCount;
    census.frameBytes += g_packet.length;
  }
  reader.Rewind();
  return census;
}

}  // namespace

RecordCensus CountRecords(ImageSource& source) {
  return Count(source);
}

RecordCensus CountRecords(SRecReader& reader) {
  return Count(reader);
}

}  // namespace gpsfw
