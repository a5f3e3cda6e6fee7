#pragma once

#include "link/record_transfer.h"
#include "protocol/record_packet.h"
#include "report/observer.h"

namespace gpsfw {

enum class StreamEnd {
  kComplete,   // every record and the end record were accepted
  kReadError,  // the reader could not deliver the next record
  kRefused,    // the target did not accept a record
};

// Tells the observer how the record just sent fared.
void ReportRecord(RecordStage stage, int index, const RecordPacket& packet, int attempt,
                  const RecordVerdict& verdict);

// Sends every record the reader delivers, each confirmed before the next is read, then the
// end record. The reader has been rewound by the caller.
template <typename Reader>
StreamEnd SendRecordStream(SerialLink& link, Reader& reader, RecordStage stage, int attempt) {
  RecordPacket packet{};
  for (int index = 0;; ++index) {
    if (!reader.NextRecord(packet)) return StreamEnd::kReadError;
    const bool end = packet.dataCount == 0;
    if (end) MakeEndRecord(packet);
    const RecordVerdict verdict = SendRecordChecked(link, packet);
    ReportRecord(stage, end ? kEndRecordIndex : index, packet, attempt, verdict);
    if (!verdict.Accepted()) return StreamEnd::kRefused;
    if (end) return StreamEnd::kComplete;
  }
}

}  // namespace gpsfw
