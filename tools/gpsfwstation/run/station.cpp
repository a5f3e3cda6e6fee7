#include "tools/gpsfwstation/run/station.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "tools/gpsfwstation/console/summary.h"
#include "tools/gpsfwstation/run/loader_environment.h"

namespace gpsfw::station {
namespace {

// A loader told to stop restores its port within half a second; one that has not ended by
// then is killed with its group.
constexpr auto kStopGrace = std::chrono::seconds(5);
// The longest poll: children are reaped at least this often should a SIGCHLD be missed.
constexpr auto kLongestWait = std::chrono::seconds(1);
// After a turn with something to read, the next waits this long: the loaders' events gather
// in their pipes and one turn takes many, instead of one turn per line. The events carry the
// loaders' own times, so nothing shown loses precision.
constexpr auto kGatherPause = std::chrono::milliseconds(200);

Clock::duration Span(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A unit that waits for its serial has no loader yet: its time runs from the loader's start.
bool Stoppable(const Unit& unit) {
  return unit.result == Result::kRunning && !unit.timedOut && !unit.stopped && !unit.AwaitsSerial();
}

// An adopted loader is no child of this station, but still the leader of its own group.
void SignalUnit(Unit& unit, int signal) {
  if (unit.adoptedPid > 0) {
    kill(-unit.adoptedPid, signal);
  } else {
    unit.loader.SignalGroup(signal);
  }
}

void AskToStop(Unit& unit, Clock::time_point now) {
  NoteStop(unit);
  SignalUnit(unit, SIGTERM);
  unit.killAt = now + kStopGrace;
}

}  // namespace

void Station::Begin(const std::vector<std::string>& ports) {
  OnSignals();  // a stop that came during the check of the image: nothing starts
  std::map<std::string, std::string> devices;  // device -> the first name it was given
  for (const std::string& port : ports) {
    const std::string device = DeviceKey(port);
    const auto named = devices.emplace(device, port);
    if (!named.second) {
      parts_.view->Note(board_,
                        port + ": the same device as " + named.first->second + ", flashed once");
      continue;
    }
    ++board_.expected;
    if (board_.stopping) continue;
    PortState& state = ports_[port];
    state.present = true;
    // A loader adopted on the device is this port's update.
    if (state.running != nullptr || state.flashed || RunningOn(device) != nullptr) continue;
    StartUnit(port);
  }
}

void Station::Run() {
  if (parts_.watch != nullptr) {
    OnSignals();
    OnPortChanges(parts_.watch->Arm(), 0);
  }
  while (!Finished()) Turn();
  ReapAll();
}

bool Station::Finished() const {
  if (board_.Count().running > 0) return false;
  if (parts_.watch != nullptr && !board_.stopping) return false;
  return std::none_of(ports_.begin(), ports_.end(),
                      [](const auto& entry) { return entry.second.pending; });
}

void Station::Turn() {
  std::vector<pollfd> fds = {{parts_.signals->Fd(), POLLIN, 0}};
  const bool watching = parts_.watch != nullptr && !board_.stopping;
  if (watching) fds.push_back({parts_.watch->Fd(), POLLIN, 0});
  const bool scanning = parts_.serials != nullptr && parts_.serials->Fd() >= 0;
  if (scanning) fds.push_back({parts_.serials->Fd(), POLLIN, 0});
  std::vector<Unit*> owners(fds.size(), nullptr);
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning) continue;
    for (int fd : {unit->loader.OutFd(), unit->loader.ErrFd(), unit->serialCommand.OutFd(),
                   unit->serialCommand.ErrFd()}) {
      if (fd < 0) continue;
      fds.push_back({fd, POLLIN, 0});
      owners.push_back(unit.get());
    }
  }
  const Clock::duration since = Clock::now() - lastBusy_;
  if (since < kGatherPause) std::this_thread::sleep_for(kGatherPause - since);
  const Clock::time_point now = Clock::now();
  const auto wait =
      std::clamp(NextWake(now) - now, Clock::duration::zero(), Clock::duration(kLongestWait));
  const int ready =
      poll(fds.data(), fds.size(),
           static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
  if (ready == 0) reapDue_ = true;
  if (ready > 0) lastBusy_ = Clock::now();
  if (fds[0].revents != 0) OnSignals();
  if (watching && fds[1].revents != 0 && !board_.stopping) {
    OnPortChanges(parts_.watch->Take(), parts_.options->settleSeconds);
  }
  if (ready > 0) ReadPipes(fds, owners);
  if (reapDue_) ReapAll();
  if (scanning) TakePostedSerials();
  CheckAdopted();
  CheckDeadlines(Clock::now());
  CheckSerialDeadlines(Clock::now());
  StartDue(Clock::now());
  NoteRecordLoss();
  CountWaiting();
  NoteHookOutcomes();
  ForgetOldUnits();
  if (scanning) PublishSerialIds();
  parts_.view->Refresh(board_, Clock::now());
}

// The record's writer says a loss on standard error itself, at once; the views and the
// dashboard show it as well, for as long as it lasts.
void Station::NoteRecordLoss() {
  board_.recordWaiting = parts_.record != nullptr ? parts_.record->Waiting() : 0;
  const size_t unkept = parts_.record != nullptr ? parts_.record->Unkept() : 0;
  if (unkept == board_.recordUnkept) return;
  board_.recordUnkept = unkept;
  parts_.view->Note(board_, unkept == 0 ? "Record: every row is on disk again"
                                        : "Record: " + std::to_string(unkept) +
                                              " row(s) kept in memory alone (the database and "
                                              "the spool both fail), tried again every 2 s");
}

// A port settling after it appeared, and a unit whose serial is still to come, both wait: no
// loader runs for them yet.
void Station::CountWaiting() {
  board_.awaitingSerial = static_cast<size_t>(std::count_if(
      board_.units.begin(), board_.units.end(),
      [](const auto& unit) { return unit->result == Result::kRunning && unit->AwaitsSerial(); }));
  board_.waiting =
      board_.awaitingSerial +
      static_cast<size_t>(std::count_if(ports_.begin(), ports_.end(),
                                        [](const auto& entry) { return entry.second.pending; }));
}

// A unit's row as the record keeps it: with a hook, "pending" until the hook has run, from
// its start on, so that the row of an update cut off by a dead station is handed to the hook
// at the next start.
record::UpdateRow Station::RowFor(const Unit& unit) const {
  record::UpdateRow row = RowOf(unit, board_, parts_.context);
  if (parts_.hook != nullptr) row.hookStatus = "pending";
  return row;
}

// The hook's thread has said each failure on standard error; the board shows them as well.
void Station::NoteHookOutcomes() {
  if (parts_.hook == nullptr) return;
  for (const HookOutcome& outcome : parts_.hook->TakeOutcomes()) {
    if (outcome.status != "ok") ++board_.hooksFailing;
    for (const auto& unit : board_.units) {
      if (unit->recordId != outcome.id) continue;
      unit->hookStatus = outcome.status;
      if (outcome.status != "ok") {
        parts_.view->Note(board_, unit->port + ": its hook failed: " + outcome.status);
      }
    }
  }
}

Clock::time_point Station::NextWake(Clock::time_point now) const {
  Clock::time_point next = std::min(now + kLongestWait, parts_.view->NextRefresh(now));
  const Clock::duration timeout = Span(parts_.options->unitTimeoutSeconds);
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning) continue;
    if (Stoppable(*unit)) next = std::min(next, unit->start + timeout);
    if (unit->killAt != Clock::time_point{}) next = std::min(next, unit->killAt);
    if (unit->serialStage == SerialStage::kCommand && !unit->serialTimedOut) {
      next = std::min(next, unit->serialDeadline);
    }
  }
  for (const auto& [port, state] : ports_) {
    if (state.pending) next = std::min(next, state.startAt);
  }
  return next;
}

void Station::StartUnit(const std::string& port) {
  PortState& state = ports_[port];
  auto unit = std::make_unique<Unit>();
  unit->port = port;
  unit->identity = IdentifyPort(port);
  unit->connection = ++state.connections;
  unit->start = Clock::now();
  unit->startWall = WallClock::now();
  unit->recordId = NewRowId();
  unit->device = DeviceKey(port);
  Unit& created = *unit;
  board_.units.push_back(std::move(unit));
  state.running = &created;
  AskSerial(created);
  if (!created.AwaitsSerial() && created.result == Result::kRunning) LaunchLoader(created);
}

// The unit's loader starts: its time, log and row begin now, after any wait for its serial.
void Station::LaunchLoader(Unit& started) {
  const std::string& port = started.port;
  // What the serial's wait showed is no part of the update.
  started.progress.phase.clear();
  started.messages.clear();
  started.start = Clock::now();
  started.startWall = WallClock::now();
  started.logPath = parts_.files->LogFor(port, WallClock::to_time_t(started.startWall));
  NoteImageChange();
  // Every loader flashes the copy checked at the start, whatever happened to the file since.
  const std::string& image =
      board_.image.snapshot.empty() ? parts_.options->image : board_.image.snapshot;
  try {
    started.tmpDir = parts_.files->NewTempDir();
    const std::vector<std::string> argv = {parts_.loader, "-q", "--events", "-",  "-i",
                                           image,         "-p", port,       "-l", started.logPath};
    started.loader.Start(argv, LoaderEnvironment(started.tmpDir), started.startError);
  } catch (const std::runtime_error& e) {
    started.startError = e.what();
  }
  if (parts_.record != nullptr) parts_.record->Begin(RowFor(started));
  parts_.view->Started(board_, started);
  if (started.startError.empty()) {
    UnitFiles::NoteLoader(started.tmpDir, started.loader.Pid());
    if (parts_.notes != nullptr) {
      const double epoch =
          std::chrono::duration<double>(started.startWall.time_since_epoch()).count();
      started.notePath = parts_.notes->Write({started.loader.Pid(), port, started.logPath,
                                              started.recordId, started.tmpDir, epoch, ""});
    }
  } else {
    EndUnit(started);
  }
}

void Station::ReadPipes(const std::vector<pollfd>& fds, const std::vector<Unit*>& owners) {
  std::string bytes;
  for (size_t i = 0; i < fds.size(); ++i) {
    Unit* unit = owners[i];
    if (unit == nullptr || fds[i].revents == 0) continue;
    bytes.clear();
    const bool open = ReadAvailable(fds[i].fd, bytes);
    if (fds[i].fd == unit->serialCommand.OutFd()) {
      KeepSerialOutput(*unit, bytes);
      if (!open) unit->serialCommand.CloseOut();
    } else if (fds[i].fd == unit->serialCommand.ErrFd()) {
      KeepMessages(*unit, bytes);
      if (!open) unit->serialCommand.CloseErr();
    } else if (fds[i].fd == unit->loader.OutFd()) {
      TakeEvents(*unit, bytes, [&] { parts_.view->PhaseChanged(board_, *unit); });
      if (!open) unit->loader.CloseOut();
    } else {
      KeepMessages(*unit, bytes);
      if (!open) unit->loader.CloseErr();
    }
    if (!open) reapDue_ = true;
  }
}

void Station::ReapAll() {
  reapDue_ = false;
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning || unit->adoptedPid != 0) continue;
    if (unit->serialStage == SerialStage::kCommand) {
      if (unit->serialCommand.Reap()) EndSerialCommand(*unit);
    } else if (!unit->AwaitsSerial() && unit->loader.Reap()) {
      EndUnit(*unit);
    }
  }
}

// The loader has ended: what it wrote last is still in the pipes.
void Station::EndUnit(Unit& unit) {
  std::string bytes;
  if (unit.loader.OutFd() >= 0) {
    ReadAvailable(unit.loader.OutFd(), bytes);
    TakeEvents(unit, bytes, [&] { parts_.view->PhaseChanged(board_, unit); });
    unit.loader.CloseOut();
  }
  if (unit.loader.ErrFd() >= 0) {
    bytes.clear();
    ReadAvailable(unit.loader.ErrFd(), bytes);
    KeepMessages(unit, bytes);
    unit.loader.CloseErr();
  }
  UnitFiles::RemoveTempDir(unit.tmpDir);
  RunningNotes::Remove(unit.notePath);
  if (unit.adoptedPid == 0) unit.status = unit.startError.empty() ? unit.loader.Status() : -1;
  unit.end = Clock::now();
  unit.endWall = WallClock::now();
  unit.result = Decide(unit);
  PortState& state = ports_[unit.port];
  state.running = nullptr;
  // A port that went in the same turn as its loader ended is a new receiver when it comes
  // back: it is flashed then, whichever of the two the turn handled first.
  state.flashed = state.present;
  const record::UpdateRow row = RowFor(unit);
  if (parts_.record != nullptr) parts_.record->Finish(row);
  if (parts_.hook != nullptr) {
    unit.hookStatus = row.hookStatus;
    parts_.hook->Hand(row);
  }
  board_.tally.Add(unit);
  parts_.view->Ended(board_, unit);
  SaveReport();
}

// A station that watches for weeks keeps what it needs of its old units in counts alone.
// A run without --watch is bounded by its ports: it lists every one.
void Station::ForgetOldUnits() {
  if (!board_.watching) return;
  for (const auto& unit : board_.DropOldEnded()) parts_.view->Forget(*unit);
}

// The report is rewritten after every ended unit: a station that loses its power keeps the
// shift's units up to the last one that ended.
void Station::SaveReport() {
  if (parts_.options->report.empty()) return;
  try {
    WriteReport(parts_.options->report, ReportJson(board_, Clock::now()));
  } catch (const std::runtime_error& e) {
    parts_.view->Note(board_, e.what());
  }
}

void Station::NoteImageChange() {
  if (imageChangeSaid_ || board_.image.snapshot.empty() || !ImageChangedOnDisk(board_.image)) {
    return;
  }
  imageChangeSaid_ = true;
  board_.imageChanged = true;
  parts_.view->Note(board_, "The image " + board_.image.path +
                                " changed on disk; still flashing the image checked at the "
                                "start. Start the station again to use the new one");
}

void Station::CheckDeadlines(Clock::time_point now) {
  const Clock::duration timeout = Span(parts_.options->unitTimeoutSeconds);
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning) continue;
    if (Stoppable(*unit) && now >= unit->start + timeout) {
      unit->timedOut = true;
      AskToStop(*unit, now);
      parts_.view->Note(board_, unit->port + ": not done within its time limit, stopping it");
    } else if (unit->killAt != Clock::time_point{} && now >= unit->killAt) {
      SignalUnit(*unit, SIGKILL);
      unit->killAt = Clock::time_point{};
    }
  }
}

void Station::StartDue(Clock::time_point now) {
  for (auto& [port, state] : ports_) {
    if (!state.pending || now < state.startAt) continue;
    state.pending = false;
    // The same device under another name (a link and its /dev name) is flashed once.
    if (state.present && state.running == nullptr && !state.flashed && !board_.stopping &&
        RunningOn(DeviceKey(port)) == nullptr) {
      StartUnit(port);
    }
  }
}

void Station::OnPortChanges(const std::vector<PortChange>& changes, double settleSeconds) {
  const Clock::time_point now = Clock::now();
  for (const PortChange& change : changes) {
    PortState& state = ports_[change.path];
    if (change.appeared == state.present) continue;
    state.present = change.appeared;
    state.pending = false;
    if (!change.appeared) {
      state.flashed = false;  // the next connection is a receiver to flash
      if (state.running != nullptr && state.running->AwaitsSerial()) {
        GiveUpSerial(*state.running, "gone before its serial came");
      } else if (state.running != nullptr) {
        parts_.view->Note(board_, change.path + ": gone during its update, its loader waits");
      }
      continue;
    }
    if (state.running != nullptr || board_.stopping) continue;
    state.pending = true;
    state.startAt = now + Span(settleSeconds);
  }
}

void Station::OnSignals() {
  for (int signal; (signal = parts_.signals->Next()) != 0;) {
    if (signal == SIGCHLD) {
      reapDue_ = true;
    } else if (signal == SIGINT && ++interrupts_ == 1) {
      StopNew("Stopping: no new updates, the running ones finish (Ctrl-C again stops them)");
    } else if (signal == SIGINT && interrupts_ > 2) {
      StopRunning(SIGKILL);
    } else {
      StopNew("Stopping: no new updates");
      StopRunning(SIGTERM);
    }
  }
}

void Station::StopNew(const std::string& why) {
  if (!board_.stopping) parts_.view->Note(board_, why);
  board_.stopping = true;
  for (auto& entry : ports_) entry.second.pending = false;
  // A unit not started yet is not started now.
  for (const auto& unit : board_.units) {
    if (unit->result == Result::kRunning && unit->AwaitsSerial() && !unit->stopped) {
      GiveUpSerial(*unit, "stopped before its serial came");
    }
  }
}

void Station::StopRunning(int signal) {
  const Clock::time_point now = Clock::now();
  const int running = board_.Count().running;
  if (running > 0) {
    parts_.view->Note(board_, (signal == SIGKILL ? "Killing " : "Stopping ") +
                                  std::to_string(running) + " running update" +
                                  (running == 1 ? "" : "s"));
  }
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning) continue;
    if (signal == SIGKILL) {
      NoteStop(*unit);
      unit->stopped = true;
      SignalUnit(*unit, SIGKILL);
    } else if (!unit->stopped) {
      unit->stopped = true;
      AskToStop(*unit, now);
    }
  }
}

}  // namespace gpsfw::station
