#include "tools/gpsfwstation/console/summary.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "report/output_file.h"
#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/console/columns.h"
#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

std::string FailedLines(const Board& board) {
  std::string failed;
  std::string messages;
  for (const auto& unit : board.units) {
    if (unit->result == Result::kCompleted) continue;
    const std::string why =
        unit->result == Result::kRunning ? ResultText(unit->result) : FailureReason(*unit);
    failed += (failed.empty() ? "Failed: " : ", ") + unit->port + " (" + why + ", code " +
              std::to_string(LoaderReturnCode(*unit)) + ")";
    const std::string& said = unit->startError.empty() ? unit->messages : unit->startError;
    if (!said.empty()) messages += unit->port + ": " + said + (said.back() == '\n' ? "" : "\n");
  }
  return failed.empty() ? "" : failed + "\n" + messages;
}

nlohmann::ordered_json NullWhenEmpty(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

// Each port with a USB adapter or stable names, once: where its units were on the fixture.
std::string AdapterLines(const Board& board) {
  std::string lines;
  std::set<std::string> told;
  for (const auto& unit : board.units) {
    const PortIdentity& id = unit->identity;
    if (!id.Known() || !told.insert(unit->port).second) continue;
    lines += "  " + unit->port + ":";
    if (!id.usbSerial.empty()) lines += " usb-serial:" + id.usbSerial;
    if (!id.byPath.empty()) lines += " " + id.byPath;
    if (!id.byId.empty()) lines += " " + id.byId;
    lines += "\n";
  }
  return lines.empty() ? "" : "Adapters:\n" + lines;
}

nlohmann::ordered_json UnitJson(const Unit& unit) {
  nlohmann::ordered_json entry = {
      {"port", unit.port},
      {"by_id", NullWhenEmpty(unit.identity.byId)},
      {"by_path", NullWhenEmpty(unit.identity.byPath)},
      {"usb_serial", NullWhenEmpty(unit.identity.usbSerial)},
      {"unit_serial", NullWhenEmpty(unit.unitSerial)},
      {"result", ResultKey(unit.result)},
      {"exit_status", unit.status},
      {"return_code", nullptr},
      {"start", IsoTime(unit.startWall)},
      {"end", IsoTime(unit.endWall)},
      {"duration", unit.Seconds({})},
      {"bytes", BytesOf(unit)},
      {"retries", unit.progress.retries},
      {"wakes", unit.progress.wakes},
      {"last_phase", LastPhase(unit)},
      {"identity",
       {{"boot_loader", NullWhenEmpty(unit.progress.bootLoader)},
        {"sfld", NullWhenEmpty(unit.progress.sfld)},
        {"flash_type", NullWhenEmpty(unit.progress.flashType)}}},
      {"log", unit.logPath},
      {"connection", unit.connection},
      {"cpu_seconds", unit.loader.CpuSeconds()},
  };
  if (unit.progress.done) entry["return_code"] = unit.progress.doneCode;
  if (unit.result != Result::kCompleted) entry["reason"] = FailureReason(unit);
  if (!unit.progress.doneReason.empty()) entry["reason_code"] = unit.progress.doneReason;
  if (!unit.serialError.empty() && unit.result == Result::kFailed) {
    entry["reason_code"] = "serial_failed";
  }
  if (!unit.messages.empty()) entry["messages"] = unit.messages;
  if (!unit.startError.empty()) entry["messages"] = unit.startError;
  return entry;
}

// The station's own CPU time, without its loaders': what watching many ports costs.
double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return CpuSeconds(usage);
}

// The report's folder may be shared with others: whatever was planted under the temporary
// name is truncated or refused, never written through (a symbolic link is not followed).
bool WriteWholeText(const std::string& path, const std::string& text) {
  std::FILE* out = nullptr;
  if (OpenOutputFile(path.c_str(), "w", nullptr, 0, &out) != LogOpenResult::kOpened) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  // On disk before the rename: a power cut leaves the old report or the new one, whole.
  const bool synced = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
  return std::fclose(out) == 0 && written && synced;
}

void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int ExitStatusOf(const Board& board) {
  const int units = static_cast<int>(board.Updates());
  return board.Count().completed == units && units >= board.expected ? kExitOk : kExitFailed;
}

std::string IsoTime(WallClock::time_point time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

std::string SummaryText(const Board& board, Clock::time_point now) {
  // Port paths and log paths may be as long as the platform allows: no column is cut.
  const TableLayout table(Table::kSummary, board, now, std::string::npos);
  const double elapsed = std::chrono::duration<double>(now - board.start).count();
  std::string text = "Summary: " + ImageLine(board.image) + "\n" + TotalsLine(board, false) + ", " +
                     SecondsText(elapsed) + "\n";
  if (board.forgottenUnits > 0) {
    text += "The first " + std::to_string(board.forgottenUnits) +
            " ended updates are counted above but not listed (their logs, and the record, "
            "have them)\n";
  }
  text += table.TitleRow() + "\n";
  for (const auto& unit : board.units) text += table.UnitRow(*unit) + "\n";
  return text + FailedLines(board) + AdapterLines(board);
}

nlohmann::ordered_json ReportJson(const Board& board, Clock::time_point now) {
  const Totals totals = board.Count();
  nlohmann::ordered_json units = nlohmann::ordered_json::array();
  for (const auto& unit : board.units) units.push_back(UnitJson(*unit));
  const WallClock::time_point endWall =
      board.startWall + std::chrono::duration_cast<WallClock::duration>(now - board.start);
  return {
      {"image",
       {{"path", board.image.path},
        {"size", board.image.size},
        {"crc32", Crc32Text(board.image.crc32)},
        {"sha256", board.image.sha256},
        {"changed_on_disk", board.imageChanged}}},
      {"start", IsoTime(board.startWall)},
      {"end", IsoTime(endWall)},
      {"duration", std::chrono::duration<double>(now - board.start).count()},
      {"totals",
       {{"updates", board.Updates()},
        {"completed", totals.completed},
        {"failed", totals.failed},
        {"running", totals.running}}},
      {"exit_status", ExitStatusOf(board)},
      {"cpu_seconds", OwnCpuSeconds()},
      {"ports", units},
      {"station", board.station},
  };
}

void CheckReportPath(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  if (std::filesystem::is_directory(target) || access(folder.c_str(), W_OK | X_OK) != 0) {
    throw std::runtime_error("cannot write the report " + path);
  }
  SyncFolderOf(path);
}

void WriteReport(const std::string& path, const nlohmann::ordered_json& report) {
  const std::string temporary = path + ".part";
  // Port names and the loaders' messages may hold any bytes: they are not refused, a byte
  // that is no UTF-8 becomes U+FFFD.
  const std::string text =
      report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  if (!WriteWholeText(temporary, text)) {
    throw std::runtime_error("cannot write the report " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write the report " + path);
  }
  SyncFolderOf(path);
}

}  // namespace gpsfw::station
