// The loaders a station killed outright left running, taken over by the next one: they are
// no children of this station, so they are looked for rather than reaped.
#include <signal.h>

#include "tools/gpsfwstation/run/station.h"

namespace gpsfw::station {

void Station::Adopt(const std::vector<LeftLoader>& loaders) {
  for (const LeftLoader& left : loaders) {
    auto unit = std::make_unique<Unit>();
    unit->port = left.port;
    unit->identity = IdentifyPort(left.port);
    unit->device = DeviceKey(left.port);
    unit->logPath = left.logPath;
    unit->tmpDir = left.tmpDir;
    unit->recordId = left.recordId.empty() ? NewRowId() : left.recordId;
    unit->notePath = left.notePath;
    unit->adoptedPid = left.pid;
    unit->start = Clock::now();
    unit->startWall = WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
        std::chrono::duration<double>(left.startEpoch)));
    unit->progress.phase = "adopted";
    Unit& adopted = *unit;
    board_.units.push_back(std::move(unit));
    PortState& state = ports_[left.port];
    state.running = &adopted;
    state.present = true;
    parts_.view->Started(board_, adopted);
    parts_.view->Note(board_, left.port + ": its loader (pid " + std::to_string(left.pid) +
                                  ") was left running by a station that ended; waiting for it");
  }
}

const Unit* Station::RunningOn(const std::string& device) const {
  for (const auto& unit : board_.units) {
    if (unit->result == Result::kRunning && unit->device == device) return unit.get();
  }
  return nullptr;
}

// An adopted loader sends no SIGCHLD and has no pipes: it is looked for on every turn.
void Station::CheckAdopted() {
  for (const auto& unit : board_.units) {
    if (unit->result != Result::kRunning || unit->adoptedPid == 0) continue;
    if (LoaderRuns(unit->adoptedPid, unit->logPath)) continue;
    int code = 0;
    if (ReturnCodeInLog(unit->logPath, code)) {
      unit->progress.done = true;
      unit->progress.doneCode = code;
      unit->status = code & 0xff;
    } else {
      unit->status = -1;
      unit->messages =
          "its loader was adopted from a station that ended; its log ends without "
          "a RetCode line";
    }
    EndUnit(*unit);
  }
}

}  // namespace gpsfw::station
