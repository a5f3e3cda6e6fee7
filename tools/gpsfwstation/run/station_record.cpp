#include "tools/gpsfwstation/run/station_record.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/record/station_liveness.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station {
namespace {

// At its end the station gives the database this long to take the last rows; what it has
// not taken by then waits in the spool for the next start.
constexpr auto kDrainBound = std::chrono::seconds(10);
constexpr auto kStoppingDrainBound = std::chrono::seconds(3);

}  // namespace

std::unique_ptr<record::RecordWriter> OpenStationRecord(const StationOptions& options,
                                                        const RecordContext& context,
                                                        const std::set<std::string>& adopted,
                                                        std::string& error) {
  std::unique_ptr<record::RecordStore> store = record::OpenRecordStore(options.db, error);
  if (store == nullptr || !store->Prepare(context.host, context.station, error)) return nullptr;
  const int interrupted = store->MarkInterrupted(context.host, adopted, error);
  if (interrupted < 0) return nullptr;
  if (interrupted > 0) {
    std::cerr << "gpsfwstation: the record held " << interrupted << " update"
              << (interrupted == 1 ? "" : "s")
              << " left running by a station that ended without finishing "
              << (interrupted == 1 ? "it" : "them")
              << "; recorded now, from the loaders' logs where they tell how it ended\n";
  }
  auto writer = std::make_unique<record::RecordWriter>(std::move(store), options.logDir);
  writer->Beat(record::kHeartbeatEvery);
  return writer;
}

void RecordRefusedImage(record::RecordWriter& writer, const Board& board,
                        const RecordContext& context, const std::string& why) {
  record::UpdateRow row;
  row.id = NewRowId();
  row.host = context.host;
  row.station = context.station;
  row.stationPid = static_cast<int>(getpid());
  row.operatorName = context.operatorName;
  row.imagePath = std::filesystem::absolute(board.image.path).lexically_normal().string();
  row.imageSize = board.image.size;
  row.imageCrc32 = Crc32Text(board.image.crc32);
  row.imageSha256 = board.image.sha256;
  row.startUtc = record::UtcText(board.startWall);
  row.endUtc = record::UtcNow();
  row.result = "refused";
  row.returnCode = -3;
  row.reason = "image_refused";
  row.message = why;
  writer.Refuse(row);
}

namespace {

// Rows that neither the database nor the spool took are written out whole where the user
// looks, so that they can still be saved by hand: as a spool file in the log folder, they are
// written by the next station.
void SayLostRows(record::RecordWriter& writer, const StationOptions& options, size_t lost) {
  std::cerr << "gpsfwstation: " << lost << " record row" << (lost == 1 ? " is" : "s are")
            << " lost: the record (" << writer.LastError() << ") and the spool ("
            << writer.SpoolError() << ") both failed. "
            << (lost == 1 ? "It follows" : "They follow") << " as spool lines; saved as "
            << options.logDir << "/gpsfwstation-record-" << HostName()
            << "-1.spool, the next station writes " << (lost == 1 ? "it" : "them") << ":\n";
  for (const std::string& line : writer.UnkeptLines()) std::cerr << line;
  std::cerr << std::flush;
}

}  // namespace

std::string RecordSummary(record::RecordWriter& writer, const StationOptions& options,
                          bool stopping) {
  // A station told to stop (a service being stopped) has little time: what the database has
  // not taken by then stays in the spool, which the next start adopts.
  const bool drained = writer.Drain(stopping ? kStoppingDrainBound : kDrainBound);
  const std::string unread = writer.Unread();
  if (drained) {
    return "Record: every row " + std::string(unread.empty() ? "is" : "that could be read is") +
           " in " + options.db + (unread.empty() ? "" : "; " + unread) + "\n";
  }
  const size_t waiting = writer.Waiting();
  const size_t lost = writer.Unkept();
  std::string text;
  if (waiting > lost) {
    const size_t kept = waiting - lost;
    text += "Record: " + std::to_string(kept) + " row" + (kept == 1 ? "" : "s") +
            " wait for the database (" + writer.LastError() + "); they are kept in " +
            writer.SpoolPath() + " and written by the next station started with --log-dir " +
            options.logDir + "\n";
  }
  if (lost > 0) {
    SayLostRows(writer, options, lost);
    text += "Record: " + std::to_string(lost) + " row" + (lost == 1 ? " is" : "s are") +
            " LOST: neither the database nor the spool took " + (lost == 1 ? "it" : "them") +
            " (see standard error)\n";
  }
  if (!unread.empty()) text += "Record: " + unread + "\n";
  return text;
}

}  // namespace gpsfw::station
