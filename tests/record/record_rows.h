#pragma once

// What the record tests read back: every row of a record, and a shell command's output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::test {

// Every row of the record `db`, newest first; none (and a test failure) when it cannot be read.
inline std::vector<station::record::UpdateRow> RecordRows(const std::string& db) {
  std::string error;
  auto store = station::record::OpenRecordForReading(db, error);
  EXPECT_NE(store, nullptr) << error;
  if (store == nullptr) return {};
  station::record::HistoryFilter all;
  all.limit = 0;
  std::vector<station::record::UpdateRow> rows = store->History(all, error);
  EXPECT_EQ(error, "");
  return rows;
}

// What `command` prints on its standard output.
inline std::string ShellOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

}  // namespace gpsfw::test
