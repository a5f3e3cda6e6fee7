// The unit's serial number, had before its loader starts: from --serial-from's command, run
// as a child read through the station's one poll, or scanned at the dashboard. Until a unit
// has it, its port is not opened.
#include <signal.h>

#include "tools/gpsfwstation/record/path_name.h"
#include "tools/gpsfwstation/run/station.h"
#include "tools/gpsfwstation/run/unit_serial.h"

namespace gpsfw::station {
namespace {

constexpr int kSignalBase = 128;

std::string CommandStatus(const Unit& unit, double timeoutSeconds) {
  const int status = unit.serialCommand.Status();
  if (unit.serialTimedOut) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g s", timeoutSeconds);
    return std::string("the serial command took longer than ") + limit + ", killed";
  }
  if (status > kSignalBase) {
    return "the serial command was ended by signal " + std::to_string(status - kSignalBase);
  }
  if (status != 0) return "the serial command exited with " + std::to_string(status);
  return "";
}

}  // namespace

void Station::AskSerial(Unit& unit) {
  const auto scanned = board_.nextSerials.find(unit.port);
  if (scanned != board_.nextSerials.end()) {
    unit.unitSerial = scanned->second;
    board_.nextSerials.erase(scanned);
    return;
  }
  if (!parts_.options->serialFrom.empty()) {
    StartSerialCommand(unit);
    return;
  }
  if (parts_.options->requireSerial) {
    unit.serialStage = SerialStage::kWaiting;
    unit.progress.phase = kWaitingForSerialPhase;
    parts_.view->PhaseChanged(board_, unit);
  }
}

void Station::StartSerialCommand(Unit& unit) {
  const auto limit = std::chrono::duration<double>(parts_.options->serialTimeoutSeconds);
  unit.serialDeadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
  unit.progress.phase = kReadingSerialPhase;
  std::string error;
  if (!unit.serialCommand.Start({"/bin/sh", "-c", parts_.options->serialFrom},
                                SerialEnvironment(unit.port, unit.identity), error)) {
    FailSerial(unit, "the serial command could not be started: " + error);
    return;
  }
  unit.serialStage = SerialStage::kCommand;
  parts_.view->PhaseChanged(board_, unit);
}

// The command has been reaped: what it printed last is still in its pipes.
void Station::EndSerialCommand(Unit& unit) {
  std::string bytes;
  if (unit.serialCommand.OutFd() >= 0) {
    ReadAvailable(unit.serialCommand.OutFd(), bytes);
    KeepSerialOutput(unit, bytes);
    unit.serialCommand.CloseOut();
  }
  if (unit.serialCommand.ErrFd() >= 0) {
    bytes.clear();
    ReadAvailable(unit.serialCommand.ErrFd(), bytes);
    KeepMessages(unit, bytes);
    unit.serialCommand.CloseErr();
  }
  unit.serialStage = SerialStage::kNone;
  if (unit.stopped) {
    EndUnit(unit);
    return;
  }
  // A serial scanned while the command ran is the one the operator meant.
  if (!unit.unitSerial.empty()) {
    LaunchLoader(unit);
    return;
  }
  std::string why = CommandStatus(unit, parts_.options->serialTimeoutSeconds);
  const std::string serial = FirstLine(unit.serialOutput);
  if (why.empty() && serial.empty()) why = "the serial command printed no serial";
  if (why.empty() && !SerialProblem(serial).empty()) {
    why = "the serial command printed no usable serial (" + SerialProblem(serial) + ")";
  }
  if (!why.empty()) {
    FailSerial(unit, why);
    return;
  }
  unit.unitSerial = serial;
  LaunchLoader(unit);
}

void Station::FailSerial(Unit& unit, const std::string& why) {
  unit.serialStage = SerialStage::kNone;
  unit.serialError = why;
  parts_.view->Note(board_, unit.port + ": " + why + "; not flashed");
  EndUnit(unit);
}

// The unit ends before its loader was started: stopped, nothing flashed.
void Station::GiveUpSerial(Unit& unit, const std::string& why) {
  unit.stopped = true;
  unit.serialError = why;
  if (unit.serialStage == SerialStage::kCommand) {
    unit.serialCommand.SignalGroup(SIGKILL);  // ended once it is reaped
    return;
  }
  unit.serialStage = SerialStage::kNone;
  EndUnit(unit);
}

void Station::CheckSerialDeadlines(Clock::time_point now) {
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning || unit->serialStage != SerialStage::kCommand) continue;
    if (unit->serialTimedOut || now < unit->serialDeadline) continue;
    unit->serialTimedOut = true;
    unit->serialCommand.SignalGroup(SIGKILL);
  }
}

// A serial goes to the port's unit that has none yet, else to its next unit.
void Station::TakePostedSerials() {
  for (PostedSerial& posted : parts_.serials->Take()) {
    const auto state = ports_.find(posted.port);
    Unit* unit = state != ports_.end() ? state->second.running : nullptr;
    if (unit == nullptr || !unit->unitSerial.empty() || unit->stopped) {
      parts_.view->Note(board_, posted.port + ": serial " + posted.serial + " for its next unit");
      board_.nextSerials[posted.port] = std::move(posted.serial);
      continue;
    }
    parts_.view->Note(board_, posted.port + ": serial " + posted.serial);
    unit->unitSerial = std::move(posted.serial);
    if (unit->serialStage == SerialStage::kWaiting) {
      unit->serialStage = SerialStage::kNone;
      LaunchLoader(*unit);
    } else if (unit->serialStage == SerialStage::kNone && parts_.record != nullptr) {
      parts_.record->Amend(RowOf(*unit, board_, parts_.context));
    }
  }
}

// The ids the page may name a port by: a unit's id (the page's rows), the port as the
// station names it, and its base name (for a person with curl).
void Station::PublishSerialIds() {
  std::map<std::string, std::string> ids;
  for (const auto& [port, state] : ports_) {
    ids.emplace(port, port);
    ids.emplace(record::BaseName(port), port);
  }
  for (const auto& unit : board_.units) ids[unit->recordId] = unit->port;
  parts_.serials->Publish(std::move(ids));
}

}  // namespace gpsfw::station
