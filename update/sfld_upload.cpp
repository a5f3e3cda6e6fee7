#include "update/sfld_upload.h"

#include "report/observer.h"
#include "report/progress_log.h"
#include "update/record_stream.h"

namespace gpsfw {
bool UploadSfld(RunState& run, SRecReader& reader) {
  reader.Rewind();
  Observe().OnPhase(UpdatePhase::kSfldUpload);
  LogWide(L"Uploading SFLD...");
  const StreamEnd end = SendRecordStream(run.link, reader, RecordStage::kSfld, ++run.sfldUploads);
  if (end == StreamEnd::kReadError) LogWide(L"Image reading error.");
  return end == StreamEnd::kComplete;
}

}  // namespace gpsfw
