#pragma once

#include "link/serial_port.h"
#include "protocol/record_packet.h"
#include "report/observer.h"

namespace gpsfw {

// One exchange: announce, wait for REC_WAIT_CODE, send the frame, wait for the verdict.
bool SendRecord(PortHandle port, const RecordPacket& packet);
// SendRecord, and after a failure a recovery pass that brings the target back to waiting
// for a record. The record itself is not sent again.
bool SendRecordChecked(PortHandle port, const RecordPacket& packet);

// How the last SendRecord ended, and the target's byte when it answered.
struct RecordVerdict {
  RecordOutcome outcome = RecordOutcome::kAccepted;
  uint8_t byte = 0;
};
RecordVerdict LastRecordVerdict();

}  // namespace gpsfw
