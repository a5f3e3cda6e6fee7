#include "update/receiver_facts.h"

#include <cstdio>

#include "report/observer.h"

namespace gpsfw {

void NoteVersion(RunState& run, VersionSource source, const char* text) {
  if (text == nullptr) return;
  char* into = source == VersionSource::kBootLoader ? run.identity.bootLoader : run.identity.sfld;
  std::snprintf(into, ReceiverIdentity::kTextCapacity, "%s", text);
  Observe().OnIdentity(run.identity);
}

void NoteFlashType(RunState& run, int type) {
  run.identity.flashType = type;
  run.identity.flashTypeKnown = true;
  Observe().OnIdentity(run.identity);
}

}  // namespace gpsfw
