#pragma once

#include <poll.h>

#include <map>
#include <string>
#include <vector>

#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/console/view.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/run/board.h"
#include "tools/gpsfwstation/run/port_watch.h"
#include "tools/gpsfwstation/run/running_notes.h"
#include "tools/gpsfwstation/run/serial_desk.h"
#include "tools/gpsfwstation/run/stop_signals.h"
#include "tools/gpsfwstation/run/unit_files.h"
#include "tools/gpsfwstation/run/unit_row.h"
#include "tools/gpsfwstation/run/update_hook.h"

namespace gpsfw::station {

struct StationParts {
  const StationOptions* options = nullptr;
  std::string loader;
  UnitFiles* files = nullptr;
  View* view = nullptr;
  StopSignals* signals = nullptr;
  PortWatch* watch = nullptr;              // nullptr unless --watch
  record::RecordWriter* record = nullptr;  // nullptr without --db
  const RunningNotes* notes = nullptr;     // nullptr: the loaders cannot be adopted
  SerialDesk* serials = nullptr;           // serials scanned at the dashboard; nullptr: none
  RecordContext context;
  UpdateHook* hook = nullptr;  // nullptr without --on-update-end
};

// The station's one loop: it starts a loader per port, reads every loader's events and
// messages through one poll, ends units whose time ran out, follows the ports that come and
// go, and answers the stop signals. Nothing in it blocks but the poll.
class Station {
 public:
  Station(const StationParts& parts, Board& board) : parts_(parts), board_(board) {}

  // Takes over the loaders a dead station left running: their ports are not flashed again
  // while they run, and their rows are completed from their logs when they end.
  void Adopt(const std::vector<LeftLoader>& loaders);
  // Starts a unit on each port now (ports named on the command line and the matches of
  // --ports without --watch); a device named twice (a link and its /dev name) once.
  void Begin(const std::vector<std::string>& ports);
  // Runs until every unit has ended and no port is waited for.
  void Run();

 private:
  struct PortState {
    bool present = false;
    bool flashed = false;  // flashed since it last appeared: not again until it comes back
    bool pending = false;  // appeared, waits for its settling time
    Unit* running = nullptr;
    int connections = 0;
    Clock::time_point startAt{};
  };

  bool Finished() const;
  void Turn();
  Clock::time_point NextWake(Clock::time_point now) const;
  void StartUnit(const std::string& port);
  void LaunchLoader(Unit& unit);
  // The unit's serial number, before its loader starts (station_serial.cpp).
  void AskSerial(Unit& unit);
  void StartSerialCommand(Unit& unit);
  void EndSerialCommand(Unit& unit);
  void FailSerial(Unit& unit, const std::string& why);
  void GiveUpSerial(Unit& unit, const std::string& why);
  void TakePostedSerials();
  void PublishSerialIds();
  void CheckSerialDeadlines(Clock::time_point now);
  const Unit* RunningOn(const std::string& device) const;
  void CheckAdopted();
  void ReadPipes(const std::vector<pollfd>& fds, const std::vector<Unit*>& owners);
  void ReapAll();
  void EndUnit(Unit& unit);
  void CheckDeadlines(Clock::time_point now);
  void StartDue(Clock::time_point now);
  void OnPortChanges(const std::vector<PortChange>& changes, double settleSeconds);
  void OnSignals();
  void StopNew(const std::string& why);
  void StopRunning(int signal);
  void NoteImageChange();
  void SaveReport();
  void NoteRecordLoss();
  void CountWaiting();
  record::UpdateRow RowFor(const Unit& unit) const;
  void NoteHookOutcomes();
  void ForgetOldUnits();

  StationParts parts_;
  Board& board_;
  std::map<std::string, PortState> ports_;
  int interrupts_ = 0;
  bool reapDue_ = false;
  bool imageChangeSaid_ = false;
  Clock::time_point lastBusy_{};
};

}  // namespace gpsfw::station
