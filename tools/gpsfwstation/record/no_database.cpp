// A build without SQLite and libpq for its target: the station runs, and asks for a record
// get the reason instead of one.
#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::station::record {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string&, std::string& error) {
  error = "this gpsfwstation was built without SQLite and libpq: it keeps no record";
  return nullptr;
}

std::unique_ptr<RecordStore> OpenRecordForReading(const std::string& where, std::string& error) {
  return OpenRecordStore(where, error);
}

}  // namespace gpsfw::station::record
