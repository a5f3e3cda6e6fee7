#include "tools/gpsfwstation/run/unit_row.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station {
namespace {

// The loader's exit statuses from 248 up are its negative return codes; a loader killed by
// a signal shows 128 + the signal, below them.
constexpr int kNegativeCodes = 248;

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::string NewRowId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) id += Hex8(random());
  return id;
}

int LoaderReturnCode(const Unit& unit) {
  if (unit.progress.done) return unit.progress.doneCode;
  if (unit.status >= kNegativeCodes && unit.status <= 255) return unit.status - 256;
  return unit.status;
}

record::UpdateRow RowOf(const Unit& unit, const Board& board, const RecordContext& context) {
  record::UpdateRow row;
  row.id = unit.recordId;
  row.host = context.host;
  row.station = context.station;
  row.stationPid = static_cast<int>(getpid());
  row.operatorName = context.operatorName;
  row.port = unit.port;
  row.portById = unit.identity.byId;
  row.portByPath = unit.identity.byPath;
  row.usbSerial = unit.identity.usbSerial;
  row.unitSerial = unit.unitSerial;
  row.imagePath = std::filesystem::absolute(board.image.path).lexically_normal().string();
  row.imageSize = board.image.size;
  row.imageCrc32 = Crc32Text(board.image.crc32);
  row.imageSha256 = board.image.sha256;
  row.identity = {unit.progress.bootLoader, unit.progress.sfld, unit.progress.flashType};
  row.startUtc = record::UtcText(unit.startWall);
  row.logPath = unit.logPath;
  row.retries = unit.progress.retries;
  row.wakes = unit.progress.wakes;
  row.bytes = BytesOf(unit);
  if (unit.result == Result::kRunning) {
    row.result = "running";
    return row;
  }
  row.endUtc = record::UtcText(unit.endWall);
  row.durationSeconds = unit.Seconds(unit.end);
  row.result = ResultKey(unit.result);
  row.returnCode = LoaderReturnCode(unit);
  if (unit.result != Result::kCompleted) {
    row.reason = ReasonCode(unit);
    row.message = FailureReason(unit);
  } else if (!unit.progress.logComplete) {
    // Completed all the same: the row keeps its result and says what is missing.
    row.message = "the loader's progress log is incomplete" +
                  (unit.progress.outputLost.empty() ? "" : ": " + unit.progress.outputLost);
  }
  // The log is read by the record's writer, off the station's loop.
  return row;
}

std::string LoginName() {
  if (const char* name = getlogin()) return name;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_name;
  if (const char* user = std::getenv("USER")) return user;
  return "";
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace gpsfw::station
