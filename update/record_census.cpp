#include "update/record_census.h"

namespace gpsfw {
namespace {

template <typename Reader>
RecordCensus Count(Reader& reader, RecordPacket& packet) {
  RecordCensus census;
  reader.Rewind();
  for (;;) {
    if (!reader.NextRecord(packet)) break;
    if (packet.dataCount == 0) {
      MakeEndRecord(packet);
      census.frameBytes += packet.length;
      census.complete = true;
      break;
    }
    ++census.records;
    census.bytes += packet.dataCount;
    census.frameBytes += packet.length;
  }
  reader.Rewind();
  return census;
}

}  // namespace

RecordCensus CountRecords(ImageSource& source, RecordPacket& packet) {
  return Count(source, packet);
}

RecordCensus CountRecords(SRecReader& reader, RecordPacket& packet) {
  return Count(reader, packet);
}

}  // namespace gpsfw
