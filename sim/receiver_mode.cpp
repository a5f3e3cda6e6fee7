#include "sim/receiver_mode.h"

namespace gpsfw::sim {

bool PhaseOf(Mode mode, ReceiverPhase* phase) {
  switch (mode) {
    case Mode::kApplication:
      *phase = ReceiverPhase::kApplication;
      return true;
    case Mode::kBootPoll:
      *phase = ReceiverPhase::kBootPoll;
      return true;
    case Mode::kSfldUpload:
      *phase = ReceiverPhase::kSfldUpload;
      return true;
    case Mode::kSfldPoll:
      *phase = ReceiverPhase::kSfldPoll;
      return true;
    case Mode::kFlashCommands:
      *phase = ReceiverPhase::kFlashCommands;
      return true;
    case Mode::kEraseRecord:
      *phase = ReceiverPhase::kEraseRecord;
      return true;
    case Mode::kErasing:
      *phase = ReceiverPhase::kErasing;
      return true;
    case Mode::kFlashRecords:
      *phase = ReceiverPhase::kProgramming;
      return true;
    case Mode::kOff:
    case Mode::kStarting:
      break;
  }
  return false;
}

bool InFlashStage(Mode mode) {
  return mode == Mode::kFlashCommands || mode == Mode::kEraseRecord || mode == Mode::kErasing ||
         mode == Mode::kFlashRecords;
}

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kOff:
      return "off";
    case Mode::kApplication:
      return "application";
    case Mode::kStarting:
      return "starting";
    case Mode::kBootPoll:
      return "boot loader";
    case Mode::kSfldUpload:
      return "SFLD upload";
    case Mode::kSfldPoll:
      return "SFLD";
    case Mode::kFlashCommands:
      return "flash commands";
    case Mode::kEraseRecord:
      return "erase record";
    case Mode::kErasing:
      return "erasing";
    case Mode::kFlashRecords:
      return "programming";
  }
  return "unknown";
}

}  // namespace gpsfw::sim
