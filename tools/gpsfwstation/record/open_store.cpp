#include <unistd.h>

#include "tools/gpsfwstation/record/pg_store.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/sqlite_store.h"

namespace gpsfw::station::record {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& where, std::string& error) {
  if (IsServerAddress(where)) return PgStore::Open(where, error);
  return SqliteStore::Open(where, true, error);
}

std::unique_ptr<RecordStore> OpenRecordForReading(const std::string& where, std::string& error) {
  if (IsServerAddress(where)) return PgStore::Open(where, error);
  if (access(where.c_str(), F_OK) != 0) {
    error = "no record at " + where;
    return nullptr;
  }
  return SqliteStore::Open(where, false, error);
}

}  // namespace gpsfw::station::record
