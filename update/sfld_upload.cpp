#include "update/sfld_upload.h"

#include "report/observer.h"
#include "report/progress_log.h"
#include "update/record_stream.h"

namespace gpsfw {
namespace {

int g_uploads = 0;

}  // namespace

bool UploadSfld(PortHandle port, SRecReader& reader) {
  reader.Rewind();
  Observe().OnPhase(UpdatePhase::kSfldUpload);
  LogWide(L"Uploading SFLD...");
  const StreamEnd end = SendRecordStream(port, reader, RecordStage::kSfld, ++g_uploads);
  if (end == StreamEnd::kReadError) LogWide(L"Image reading error.");
  return end == StreamEnd::kComplete;
}

}  // namespace gpsfw
