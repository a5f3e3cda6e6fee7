#pragma once

#include "sim/receiver_config.h"

namespace gpsfw::sim {

// What the receiver is doing; every part of it acts by this.
enum class Mode {
  kOff,
  kApplication,
  kStarting,  // booting or changing roles: deaf until a timer moves on
  kBootPoll,
  kSfldUpload,
  kSfldPoll,
  kFlashCommands,
  kEraseRecord,
  kErasing,
  kFlashRecords,
};

// The role as the faults name it; false for the moments that have no name (off, starting).
bool PhaseOf(Mode mode, ReceiverPhase* phase);
// The SFLD at 115200, where it gives up on a silent host.
bool InFlashStage(Mode mode);
// For messages: "application", "boot loader", ...
const char* ModeName(Mode mode);

}  // namespace gpsfw::sim
