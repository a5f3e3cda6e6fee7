#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "tools/gpsfwstation/run/loader_process.h"
#include "tools/gpsfwstation/run/port_identity.h"
#include "tools/gpsfwstation/run/unit_progress.h"

namespace gpsfw::station {

using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

enum class Result { kRunning, kCompleted, kFailed, kTimedOut, kStopped };

// Where a unit stands with its serial number before its loader starts.
enum class SerialStage {
  kNone,     // not waited for, or had: the loader runs (or ran)
  kCommand,  // --serial-from's command runs
  kWaiting,  // --require-serial: waits for a serial from the dashboard
};

// The phases a unit has before its loader starts, named as the loader names its own.
inline constexpr const char kReadingSerialPhase[] = "reading_serial";
inline constexpr const char kWaitingForSerialPhase[] = "waiting_for_serial";

// The update of one receiver: one connection of one port, flashed by one loader.
struct Unit {
  std::string port;
  PortIdentity identity;  // the port's stable names and adapter, as the update started
  std::string logPath;
  std::string tmpDir;
  std::string recordId;  // the unit's row in the record
  std::string device;    // the device behind the port: one unit per device at a time
  std::string notePath;  // the note that lets a next station adopt the loader
  int adoptedPid = 0;    // a loader a dead station left running, which this one waits for
  int connection = 1;    // the how-many-th connection of the port this station flashed
  Clock::time_point start;
  Clock::time_point end;
  WallClock::time_point startWall;
  WallClock::time_point endWall;
  LoaderProcess loader;
  UnitProgress progress;
  std::string pendingLine;     // events read, not yet ended by a newline
  std::string messages;        // what the loader wrote on its standard error (the first few KiB)
  std::string startError;      // why the loader could not be started
  bool timedOut = false;       // the unit's time ran out and its loader was told to stop
  bool stopped = false;        // the station was told to stop it
  Clock::time_point killAt{};  // when a loader told to stop is killed, if it is still there
  // Where the update stood when the station told its loader to stop (its phase then, and the
  // wake-ups sent): what the stop itself does to the stream is no news.
  std::string phaseAtStop;
  int wakesAtStop = 0;
  Result result = Result::kRunning;
  int status = -1;         // the loader's exit status (128 + signal), -1 when it never ran
  std::string hookStatus;  // what --on-update-end made of its row: "" without one, "pending"...

  // The unit's own serial number (from --serial-from or the dashboard), "" while unknown, and
  // how it is being had: until it is, the port is not touched and no loader runs.
  std::string unitSerial;
  SerialStage serialStage = SerialStage::kNone;
  LoaderProcess serialCommand;         // --serial-from's command, while it runs
  std::string serialOutput;            // what it printed (the first few KiB)
  Clock::time_point serialDeadline{};  // when it is killed
  bool serialTimedOut = false;         // it was killed for its time
  std::string serialError;             // why the unit got no serial: nothing was flashed

  bool AwaitsSerial() const { return serialStage != SerialStage::kNone; }

  double Seconds(Clock::time_point now) const;
};

// The verdict on an ended unit. An update is complete only when the loader exited with 0 and
// its stream ended with a done event of code 0: an exit status alone could come from a
// loader that never talked to the receiver. A loader that completed while it was being
// stopped has still completed.
Result Decide(const Unit& unit);
const char* ResultText(Result result);  // "completed", "timed out", ...
const char* ResultKey(Result result);   // for the JSON report: "completed", "timed_out", ...
// Why a unit did not complete: "timed out while polling after 6 wake-ups", "stopped by the
// operator", or from the loader's exit status: "port", "image", "signal 9"...
std::string FailureReason(const Unit& unit);
// The short code of why an ended unit did not complete, as the record keeps it: the loader's
// own ("port_busy") where it gave one, else the result ("timed_out"); "" for a completed one.
std::string ReasonCode(const Unit& unit);
// The phase the update had reached: before the stop, for a unit the station stopped.
std::string LastPhase(const Unit& unit);
// Notes where the update stands as the station tells its loader to stop.
void NoteStop(Unit& unit);

// The bytes a unit had flashed: what its done event reported, or else what the receiver
// accepted in its latest flash stage.
uint64_t BytesOf(const Unit& unit);

// Splits what came through the events pipe into lines and applies each; `onPhase` is called
// after each change of phase, so that a view sees every phase also when several come in
// one read.
void TakeEvents(Unit& unit, const std::string& bytes, const std::function<void()>& onPhase);
// Keeps what came through the standard error pipe, within a bound.
void KeepMessages(Unit& unit, const std::string& bytes);
// Keeps what the serial command printed, within a bound: its first line is all that counts.
void KeepSerialOutput(Unit& unit, const std::string& bytes);

}  // namespace gpsfw::station
