// Which record --db names, decided the same way whether or not this build has the record's
// libraries.
#include <cctype>

#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::station::record {

// A URL, or libpq's "keyword=value ..." form, which starts with a keyword: a file path that
// merely holds a '=' (/data/line=3/record.db) stays a file.
bool IsServerAddress(const std::string& where) {
  if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) return true;
  size_t at = where.find_first_not_of(" \t");
  const size_t keyword = at;
  while (at < where.size() &&
         (std::islower(static_cast<unsigned char>(where[at])) != 0 || where[at] == '_')) {
    ++at;
  }
  if (at == keyword || at == std::string::npos) return false;
  at = where.find_first_not_of(" \t", at);
  return at != std::string::npos && where[at] == '=';
}

}  // namespace gpsfw::station::record
