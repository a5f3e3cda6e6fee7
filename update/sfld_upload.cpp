#include "update/sfld_upload.h"

#include "app/progress_log.h"
#include "link/record_transfer.h"

namespace gpsfw {

bool UploadSfld(PortHandle port, SRecReader& reader) {
  RecordPacket packet{};
  reader.Rewind();
  LogWide(L"Uploading SFLD...");
  for (;;) {
    if (!reader.NextRecord(packet)) {
      LogWide(L"Image reading error.");
      return false;
    }
    if (packet.dataCount == 0) {
      MakeEndRecord(packet);
      return SendRecordChecked(port, packet);
    }
    if (!SendRecordChecked(port, packet)) return false;
  }
}

}  // namespace gpsfw
