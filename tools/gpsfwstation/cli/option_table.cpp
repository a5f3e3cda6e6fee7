#include "tools/gpsfwstation/cli/option_table.h"

#include <algorithm>

#include "tools/gpsfwstation/cli/station_options.h"

namespace gpsfw::station {
namespace {

const OptionRow* RowFor(const std::vector<OptionRow>& rows, const std::string& arg) {
  for (const OptionRow& row : rows) {
    if (std::find(row.names.begin(), row.names.end(), arg) != row.names.end()) return &row;
  }
  return nullptr;
}

}  // namespace

void ParseOptions(const std::vector<std::string>& args, const std::vector<OptionRow>& rows,
                  const std::function<void(const std::string& arg)>& other) {
  for (size_t next = 0; next < args.size();) {
    const std::string& arg = args[next++];
    const OptionRow* row = RowFor(rows, arg);
    if (row == nullptr) {
      other(arg);
      continue;
    }
    std::string value;
    if (row->takesValue) {
      if (next >= args.size()) throw UsageError(arg + " needs a value");
      value = args[next++];
    }
    row->take(arg, value);
    if (row->endsParsing) return;
  }
}

}  // namespace gpsfw::station
