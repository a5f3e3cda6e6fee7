#include "update/record_stream.h"

namespace gpsfw {

void ReportRecord(RecordStage stage, int index, const RecordPacket& packet, int attempt,
                  const RecordVerdict& verdict) {
  RecordReport report;
  report.stage = stage;
  report.index = index;
  report.address = packet.address;
  report.dataBytes = index >= 0 ? packet.dataCount : 0;
  report.outcome = verdict.outcome;
  report.verdict = verdict.byte;
  report.attempt = attempt;
  Observe().OnRecord(report);
}

}  // namespace gpsfw
