#include "tools/gpsfwstation/run/unit.h"

#include <iostream>

namespace gpsfw::station {
namespace {

// An event line is a few hundred bytes; a longer one is no event.
constexpr size_t kMaxLine = 64 * 1024;
constexpr size_t kMaxMessages = 4096;
constexpr size_t kMaxSerialOutput = 4096;

struct ExitMeaning {
  int status;
  const char* text;
};

// The loader's exit statuses (its return codes -2, -3, -5, -6) and the shell's for a program
// that could not be run.
constexpr ExitMeaning kExitMeanings[] = {
    {254, "port"},
    {253, "image"},
    {248, "gave up"},
    {251, "log"},
    {250, "no image option"},
    {126, "not executable"},
    {127, "loader not found"},
};
constexpr int kSignalBase = 128;

}  // namespace

double Unit::Seconds(Clock::time_point now) const {
  const Clock::time_point until = result == Result::kRunning ? now : end;
  return std::chrono::duration<double>(until - start).count();
}

Result Decide(const Unit& unit) {
  if (unit.status == 0 && unit.progress.done && unit.progress.doneCode == 0) {
    return Result::kCompleted;
  }
  if (unit.timedOut) return Result::kTimedOut;
  if (unit.stopped) return Result::kStopped;
  return Result::kFailed;
}

const char* ResultText(Result result) {
  switch (result) {
    case Result::kRunning:
      return "running";
    case Result::kCompleted:
      return "completed";
    case Result::kFailed:
      return "failed";
    case Result::kTimedOut:
      return "timed out";
    case Result::kStopped:
      return "stopped";
  }
  return "";
}

const char* ResultKey(Result result) {
  return result == Result::kTimedOut ? "timed_out" : ResultText(result);
}

std::string LastPhase(const Unit& unit) {
  return unit.phaseAtStop.empty() ? unit.progress.phase : unit.phaseAtStop;
}

void NoteStop(Unit& unit) {
  if (!unit.phaseAtStop.empty()) return;
  unit.phaseAtStop = unit.progress.phase.empty() ? "preparing" : unit.progress.phase;
  unit.wakesAtStop = unit.progress.wakes;
}

namespace {

// "timed out while polling after 6 wake-ups"
std::string WhereItStopped(const Unit& unit, const std::string& what) {
  std::string phase = unit.phaseAtStop;
  for (char& c : phase) c = c == '_' ? ' ' : c;
  std::string text = what + (phase.empty() ? "" : " while " + phase);
  const int wakes = unit.wakesAtStop;
  if (wakes > 0) {
    text += " after " + std::to_string(wakes) + " wake-up" + (wakes == 1 ? "" : "s");
  }
  return text;
}

}  // namespace

std::string FailureReason(const Unit& unit) {
  if (!unit.serialError.empty()) return unit.serialError;
  if (!unit.startError.empty()) return "not started";
  if (unit.result == Result::kTimedOut) return WhereItStopped(unit, "timed out");
  if (unit.result == Result::kStopped) return WhereItStopped(unit, "stopped by the operator");
  // The loader's own words on the cause, where its event stream gave them.
  const std::string said =
      unit.progress.doneMessage.empty() ? "" : ": " + unit.progress.doneMessage;
  for (const ExitMeaning& meaning : kExitMeanings) {
    if (unit.status == meaning.status) return meaning.text + said;
  }
  if (unit.status > kSignalBase) return "signal " + std::to_string(unit.status - kSignalBase);
  if (unit.status == 0) return "no completion reported";
  return "exit " + std::to_string(unit.status);
}

std::string ReasonCode(const Unit& unit) {
  if (unit.result == Result::kCompleted || unit.result == Result::kRunning) return "";
  // A unit that got no serial was never flashed: no loader ran for it.
  if (!unit.serialError.empty() && unit.result == Result::kFailed) return "serial_failed";
  return unit.progress.doneReason.empty() ? ResultKey(unit.result) : unit.progress.doneReason;
}

uint64_t BytesOf(const Unit& unit) {
  return unit.progress.done ? unit.progress.doneBytes : unit.progress.flashDone;
}

void TakeEvents(Unit& unit, const std::string& bytes, const std::function<void()>& onPhase) {
  size_t from = 0;
  for (size_t newline; (newline = bytes.find('\n', from)) != std::string::npos;
       from = newline + 1) {
    unit.pendingLine.append(bytes, from, newline - from);
    if (unit.pendingLine.size() <= kMaxLine) {
      const bool keptAll = unit.progress.outputLost.empty();
      if (ApplyEvent(unit.progress, unit.pendingLine)) onPhase();
      // A loader that cannot keep its log goes on flashing; the station says it at once.
      if (keptAll && !unit.progress.outputLost.empty()) {
        std::cerr << "gpsfwstation: " << unit.port << ": the loader could not write "
                  << unit.progress.outputLost << "\n";
      }
    } else {
      ++unit.progress.badLines;
    }
    unit.pendingLine.clear();
  }
  // The rest of an overlong line is dropped as it comes; its newline ends it as a bad line.
  if (unit.pendingLine.size() <= kMaxLine) unit.pendingLine.append(bytes, from, kMaxLine + 1);
}

void KeepMessages(Unit& unit, const std::string& bytes) {
  const size_t room = kMaxMessages > unit.messages.size() ? kMaxMessages - unit.messages.size() : 0;
  unit.messages.append(bytes, 0, room);
}

}  // namespace gpsfw::station

namespace gpsfw::station {

void KeepSerialOutput(Unit& unit, const std::string& bytes) {
  const size_t kept = unit.serialOutput.size();
  unit.serialOutput.append(bytes, 0, kMaxSerialOutput > kept ? kMaxSerialOutput - kept : 0);
}

}  // namespace gpsfw::station
