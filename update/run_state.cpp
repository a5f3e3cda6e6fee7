#include "update/run_state.h"

#include "platform/clock.h"

namespace gpsfw {

bool TimeToGiveUp(const RunState& run) {
  return run.giveUpAtUs != 0 && platform::NowUs() >= run.giveUpAtUs;
}

void NoteProgress(RunState& run) {
  run.progressUs = platform::NowUs();
}

}  // namespace gpsfw
