#pragma once

#include <cstdint>
#include <string>

namespace gpsfw::station {

// What one loader's event stream has told so far. Times are the loader's own (seconds since
// its start), so that a rate does not suffer from the delay of the pipe.
struct UnitProgress {
  std::string phase;        // the latest phase, "" before the first
  double lastT = 0;         // the time of the latest event
  uint64_t flashTotal = 0;  // flash data bytes of the image, from the start event
  uint64_t sfldTotal = 0;
  // The transfer under way (the SFLD upload or the programming): since when, how much of it
  // the receiver has accepted, and up to when.
  double transferSince = 0;
  double transferLastT = 0;
  uint64_t transferDone = 0;
  uint64_t transferTotal = 0;
  int transferAttempt = -1;
  uint64_t flashDone = 0;  // accepted in the latest flash stage
  int retries = 0;
  int wakes = 0;
  int badLines = 0;  // lines that were no event of the stream
  bool done = false;
  int doneCode = 0;
  double doneDuration = 0;
  uint64_t doneBytes = 0;
  std::string doneReason;   // a failed run's reason code, "" when the loader gave none
  std::string doneMessage;  // and its text
  // The first output the loader could not write ("the progress log /x/gps0.log: No space
  // left on device"), "" while all is kept; and whether its log is whole, as the done event
  // tells it. A completed update stays completed: the receiver runs the new image.
  std::string outputLost;
  bool logComplete = true;
  // What the receiver told of itself (identity events, and the done event's copy).
  std::string bootLoader;
  std::string sfld;
  std::string flashType;  // the id as decimal text, "" when not told

  // Share of the transfer under way, 0 to 100, or -1 outside the transfers.
  int Percent() const;
  // Bytes per second of the transfer under way, 0 when not yet known.
  double Rate() const;
  // Seconds until the transfer under way ends at its rate so far, -1 when not known.
  double SecondsLeft() const;
};

// Takes one line of the stream (without its newline); true when the phase changed. A line
// that is no event is counted and otherwise ignored: the station never trusts the stream to
// be well formed.
bool ApplyEvent(UnitProgress& progress, const std::string& line);

}  // namespace gpsfw::station
