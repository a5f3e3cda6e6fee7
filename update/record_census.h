#pragma once

#include <cstdint>

#include "image/image_source.h"
#include "image/srec_reader.h"
#include "protocol/record_census.h"
#include "protocol/record_packet.h"

namespace gpsfw {

// Reads a scanned reader through and rewinds it before and after, as a stage would: the
// next stage to read it starts at its first record again. Nothing is logged. `packet` is
// the caller's room for one record (some 6 KiB: the loader does not allocate).
RecordCensus CountRecords(ImageSource& source, RecordPacket& packet);
RecordCensus CountRecords(SRecReader& reader, RecordPacket& packet);

}  // namespace gpsfw
