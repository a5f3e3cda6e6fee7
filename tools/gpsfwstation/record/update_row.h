#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gpsfw::station::record {

// What the receiver said it was, from the loader's identity events.
struct ReceiverIdentity {
  std::string bootLoader;  // the boot loader's version text
  std::string sfld;        // the SFLD's version text
  std::string flashType;   // the flash type id, as the loader reported it; "" when unknown
};

// One update of one receiver, as the record keeps it. A row is written as "running" when the
// update starts and completed with its outcome when it ends.
struct UpdateRow {
  std::string id;  // unique over every station and time: a spooled row is written once by it
  std::string host;
  std::string station;  // the station's name (--station; its host's name unless told)
  int stationPid = 0;   // the station process that wrote it: a live one's rows are not stale
  std::string operatorName;
  std::string port;
  std::string portById;  // the port's stable names and its adapter's serial number
  std::string portByPath;
  std::string usbSerial;
  std::string unitSerial;  // the receiver's own serial number, from its label or the factory
  std::string imagePath;
  uint64_t imageSize = 0;
  std::string imageCrc32;   // 8 hex digits
  std::string imageSha256;  // 64 hex digits
  ReceiverIdentity identity;
  std::string startUtc;  // ISO 8601, "2026-12-09T07:54:18.123Z"
  std::string endUtc;    // "" while running
  double durationSeconds = 0;
  std::string result;   // "running", "completed", "failed", "timed_out", "stopped", "interrupted"
  int returnCode = 0;   // the loader's own return code (its "RetCode"), not the exit status
  std::string reason;   // the failure reason's code; "" on success
  std::string message;  // the failure's words
  int retries = 0;
  int wakes = 0;
  uint64_t bytes = 0;
  std::string logPath;  // where the loader's progress log lies on the station
  std::string log;      // the loader's whole progress log, as text
  // What the factory's hook made of the ended row: "" when no hook is set, "pending" until it
  // ran, "ok", "exit N", "signal N", "timed out" or "not started: WHY".
  std::string hookStatus;
};

struct HistoryFilter {
  std::optional<std::string> since;  // ISO 8601 UTC, inclusive
  std::optional<std::string> until;  // exclusive
  std::optional<std::string> port;
  std::optional<std::string> result;
  std::optional<std::string> image;       // a file name or a SHA-256 (or its prefix)
  std::optional<std::string> unitSerial;  // every update of one unit, by its exact serial
  std::optional<std::string> station;
  int limit = 100;  // newest first
};

// A station of the line, as the record knows it: its latest start, its latest heartbeat and
// what its rows since that start say.
struct StationRow {
  std::string station;
  std::string host;
  int pid = 0;
  std::string startUtc;      // its latest start
  std::string heartbeatUtc;  // "" when it never beat (a station from before heartbeats)
  std::string operatorName;  // from its latest row
  std::string imagePath;
  std::string imageSha256;
  int completed = 0;  // its rows since its latest start
  int ended = 0;
  int running = 0;
  std::string lastStartUtc;  // its latest row's start, end and result; "" with no row
  std::string lastEndUtc;
  std::string lastResult;
};

enum class StatsBy { kPort, kDay, kImage, kStation };

struct StatsRow {
  std::string key;  // the port, the day, the image or the station
  int total = 0;
  int completed = 0;
  double yield = 0;  // completed / ended
  double meanSeconds = 0;
  double slowestSeconds = 0;
  int retries = 0;
  std::vector<std::pair<std::string, int>> reasons;  // failure reason codes, most frequent first
  bool outlier = false;                              // fails clearly more often than the others
};

}  // namespace gpsfw::station::record
