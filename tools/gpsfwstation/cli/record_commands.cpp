#include "tools/gpsfwstation/cli/record_commands.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "tools/gpsfwstation/cli/option_table.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/record/row_json.h"

namespace gpsfw::station {
namespace {

using record::UpdateRow;

constexpr const char* kHistoryUsage =
    "usage: gpsfwstation history [--db WHERE] [--since TIME] [--until TIME] [--port PORT]\n"
    "         [--result RESULT] [--image NAME|SHA256] [--serial SN] [--station NAME]\n"
    "         [--limit N]\n"
    "         [--csv|--json]\n"
    "       gpsfwstation history [--db WHERE] --unit ID\n"
    "Lists the updates of the record, newest first (100 unless --limit; 0 for all). TIME is\n"
    "UTC as in the record (2026-12-09 or 2026-12-09T08:00). RESULT: completed, failed,\n"
    "timed_out, stopped, interrupted, refused, running. --serial lists every update of the\n"
    "unit with that serial number (exact). --station lists one station's updates only.\n"
    "--unit prints one update whole, its log included.\n"
    "WHERE is an SQLite file or a PostgreSQL connection string; without --db,\n"
    "$GPSFW_STATION_DB, else gpsfwstation.db in the working folder.\n";
constexpr const char* kStatsUsage =
    "usage: gpsfwstation stats [--db WHERE] [--by port|day|image|station]\n"
    "Yield, mean and slowest duration, retries and failure reasons per port (default), day,\n"
    "image or station. A group marked '!' fails at least twice as often as all the others\n"
    "together, with two failures at least: look at that fixture first.\n";

std::string DefaultDb() {
  const char* env = std::getenv("GPSFW_STATION_DB");
  return env != nullptr && *env != '\0' ? env : "gpsfwstation.db";
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void PrintTable(const std::vector<UpdateRow>& rows) {
  std::printf("%-24s  %-16s  %-20s  %-11s  %4s  %9s  %7s  %-12s  %-32s  %s\n", "START (UTC)",
              "STATION", "PORT", "RESULT", "CODE", "DURATION", "RETRIES", "SHA-256", "ID",
              "SERIAL");
  for (const UpdateRow& r : rows) {
    // The unit's serial comes last: it is the one column of any width.
    std::printf("%-24s  %-16s  %-20s  %-11s  %4d  %9s  %7d  %-12s  %-32s  %s\n", r.startUtc.c_str(),
                r.station.c_str(), r.port.c_str(), r.result.c_str(), r.returnCode,
                Seconds(r.durationSeconds).c_str(), r.retries, r.imageSha256.substr(0, 12).c_str(),
                r.id.c_str(), r.unitSerial.empty() ? "-" : r.unitSerial.c_str());
  }
}

void PrintCsv(const std::vector<UpdateRow>& rows) {
  bool header = true;
  for (const UpdateRow& r : rows) {
    const nlohmann::ordered_json j = record::RowJson(r, false);
    std::string line;
    for (const auto& [key, value] : j.items()) {
      if (!line.empty()) line += ",";
      line += header ? key : Csv(value.is_string() ? value.get<std::string>() : value.dump());
    }
    if (header) {
      std::cout << line << "\n";
      header = false;
      line.clear();
      for (const auto& [key, value] : j.items()) {
        if (!line.empty()) line += ",";
        line += Csv(value.is_string() ? value.get<std::string>() : value.dump());
      }
    }
    std::cout << line << "\n";
  }
}

void PrintUnit(const UpdateRow& row) {
  const nlohmann::json j = record::RowJson(row, false);
  for (const auto& [key, value] : j.items()) {
    std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
              << "\n";
  }
  std::cout << "log:\n" << row.log << (row.log.empty() || row.log.back() == '\n' ? "" : "\n");
}

std::unique_ptr<record::RecordStore> Open(const std::string& db) {
  std::string error;
  auto store = record::OpenRecordForReading(db, error);
  if (store == nullptr) std::cerr << "gpsfwstation: " << error << "\n";
  return store;
}

// What `history` was asked for.
struct HistoryRequest {
  record::HistoryFilter filter;
  std::string db = DefaultDb(), unit, format;
  bool help = false;
};

int Limit(const std::string& n) {
  if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos) {
    throw UsageError("--limit needs a count, not '" + n + "'");
  }
  return std::stoi(n);
}

// Sets a text field (or an optional one) from an option's value.
template <typename Field>
OptionRow Into(std::vector<std::string> names, Field& field) {
  return {std::move(names), true,
          [&field](const std::string&, const std::string& value) { field = value; }};
}

// A command's --help: answered at once, whatever follows.
OptionRow Help(bool& help) {
  return {{"-h", "--help"},
          false,
          [&help](const std::string&, const std::string&) { help = true; },
          true};
}

void Refuse(const std::string& command, const std::string& arg) {
  throw UsageError(command + ": unknown option " + arg);
}

HistoryRequest ParseHistory(const std::vector<std::string>& args) {
  HistoryRequest r;
  const std::vector<OptionRow> table = {
      Into({"--db"}, r.db),
      Into({"--since"}, r.filter.since),
      Into({"--until"}, r.filter.until),
      Into({"--port"}, r.filter.port),
      Into({"--result"}, r.filter.result),
      Into({"--image"}, r.filter.image),
      Into({"--serial"}, r.filter.unitSerial),
      Into({"--station"}, r.filter.station),
      Into({"--unit"}, r.unit),
      {{"--csv", "--json"},
       false,
       [&r](const std::string& option, const std::string&) { r.format = option; }},
      {{"--limit"},
       true,
       [&r](const std::string&, const std::string& value) { r.filter.limit = Limit(value); }},
      Help(r.help)};
  ParseOptions(args, table, [](const std::string& arg) { Refuse("history", arg); });
  return r;
}

int History(const std::vector<std::string>& args) {
  const HistoryRequest request = ParseHistory(args);
  if (request.help) {
    std::cout << kHistoryUsage;
    return kExitOk;
  }
  const std::string& db = request.db;
  const std::string& unit = request.unit;
  const std::string& format = request.format;
  const record::HistoryFilter& filter = request.filter;
  auto store = Open(db);
  if (store == nullptr) return kExitFailed;
  std::string error;
  if (!unit.empty()) {
    UpdateRow row;
    if (!store->Unit(unit, row, error)) {
      std::cerr << "gpsfwstation: " << error << "\n";
      return kExitFailed;
    }
    if (format == "--json") {
      std::cout << record::RowJson(row, true).dump(2) << "\n";
    } else {
      PrintUnit(row);
    }
    return kExitOk;
  }
  const std::vector<UpdateRow> rows = store->History(filter, error);
  if (!error.empty()) {
    std::cerr << "gpsfwstation: " << error << "\n";
    return kExitFailed;
  }
  if (format == "--json") {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const UpdateRow& r : rows) list.push_back(record::RowJson(r, false));
    std::cout << list.dump(2) << "\n";
  } else if (format == "--csv") {
    PrintCsv(rows);
  } else {
    PrintTable(rows);
  }
  return kExitOk;
}

std::string Reasons(const record::StatsRow& s) {
  std::string text;
  for (const auto& [reason, count] : s.reasons) {
    text += (text.empty() ? "" : ", ") + reason + " " + std::to_string(count);
  }
  return text.empty() ? "-" : text;
}

record::StatsBy By(const std::string& what) {
  if (what == "port") return record::StatsBy::kPort;
  if (what == "day") return record::StatsBy::kDay;
  if (what == "image") return record::StatsBy::kImage;
  if (what == "station") return record::StatsBy::kStation;
  throw UsageError("--by takes port, day, image or station, not '" + what + "'");
}

int Stats(const std::vector<std::string>& args) {
  std::string db = DefaultDb();
  record::StatsBy by = record::StatsBy::kPort;
  bool help = false;
  const std::vector<OptionRow> table = {
      Into({"--db"}, db),
      {{"--by"}, true, [&by](const std::string&, const std::string& value) { by = By(value); }},
      Help(help)};
  ParseOptions(args, table, [](const std::string& arg) { Refuse("stats", arg); });
  if (help) {
    std::cout << kStatsUsage;
    return kExitOk;
  }
  auto store = Open(db);
  if (store == nullptr) return kExitFailed;
  std::string error;
  const std::vector<record::StatsRow> rows = store->Stats(by, error);
  if (!error.empty()) {
    std::cerr << "gpsfwstation: " << error << "\n";
    return kExitFailed;
  }
  std::printf("  %-28s  %7s  %9s  %6s  %9s  %9s  %7s  %s\n", "GROUP", "UPDATES", "COMPLETED",
              "YIELD", "MEAN", "SLOWEST", "RETRIES", "FAILURES");
  for (const record::StatsRow& s : rows) {
    std::printf("%s %-28s  %7d  %9d  %5.1f%%  %9s  %9s  %7d  %s\n", s.outlier ? "!" : " ",
                s.key.c_str(), s.total, s.completed, 100 * s.yield, Seconds(s.meanSeconds).c_str(),
                Seconds(s.slowestSeconds).c_str(), s.retries, Reasons(s).c_str());
  }
  return kExitOk;
}

int Guarded(int (*command)(const std::vector<std::string>&), const std::vector<std::string>& args,
            const char* usage) {
  try {
    return command(args);
  } catch (const UsageError& e) {
    std::cerr << "gpsfwstation: " << e.what() << "\n" << usage;
    return kExitUsage;
  }
}

}  // namespace

int RunHistoryCommand(const std::vector<std::string>& args) {
  return Guarded(History, args, kHistoryUsage);
}

int RunStatsCommand(const std::vector<std::string>& args) {
  return Guarded(Stats, args, kStatsUsage);
}

}  // namespace gpsfw::station
