#include "tools/gpsfwstation/station_record.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "tools/gpsfwstation/record/utc_time.h"
#include "tools/gpsfwstation/text_format.h"

namespace gpsfw::station {
namespace {

// At its end the station gives the database this long to take the last rows; what it has
// not taken by then waits in the spool for the next start.
constexpr auto kDrainBound = std::chrono::seconds(10);
constexpr auto kStoppingDrainBound = std::chrono::seconds(3);

}  // namespace

std::unique_ptr<record::RecordWriter> OpenStationRecord(const StationOptions& options,
                                                        const RecordContext& context,
                                                        std::string& error) {
  std::unique_ptr<record::RecordStore> store = record::OpenRecordStore(options.db, error);
  if (store == nullptr || !store->Prepare(context.host, error)) return nullptr;
  const int interrupted = store->MarkInterrupted(context.host, error);
  if (interrupted < 0) return nullptr;
  if (interrupted > 0) {
    std::cerr << "gpsfwstation: the record held " << interrupted << " update"
              << (interrupted == 1 ? "" : "s")
              << " left running by a station that ended without finishing "
              << (interrupted == 1 ? "it" : "them")
              << "; recorded now, from the loaders' logs where they tell how it ended\n";
  }
  return std::make_unique<record::RecordWriter>(std::move(store), options.logDir);
}

void RecordRefusedImage(record::RecordWriter& writer, const Board& board,
                        const RecordContext& context, const std::string& why) {
  record::UpdateRow row;
  row.id = NewRowId();
  row.host = context.host;
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
  writer.Finish(row);
}

std::string RecordSummary(record::RecordWriter& writer, const StationOptions& options,
                          bool stopping) {
  // A station told to stop (a service being stopped) has little time: what the database has
  // not taken by then stays in the spool, which the next start adopts.
  if (writer.Drain(stopping ? kStoppingDrainBound : kDrainBound))
    return "Record: every row is in " + options.db + "\n";
  const size_t waiting = writer.Waiting();
  return "Record: " + std::to_string(waiting) + " row" + (waiting == 1 ? "" : "s") +
         " wait for the database (" + writer.LastError() + "); they are kept in " +
         writer.SpoolPath() + " and written by the next station started with --log-dir " +
         options.logDir + "\n";
}

}  // namespace gpsfw::station
