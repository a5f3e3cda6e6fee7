#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/receiver_config.h"
#include "sim/segment.h"
#include "sim/sim_time.h"

namespace gpsfw::sim {

// Names of the receiver's phases, as they appear in results and reports.
inline constexpr const char* kPhaseOff = "off";
inline constexpr const char* kPhaseApplication = "application";
inline constexpr const char* kPhaseBootLoader = "boot loader";
inline constexpr const char* kPhaseSfldUpload = "SFLD upload";
inline constexpr const char* kPhaseSfld = "SFLD";
inline constexpr const char* kPhaseFlashCommands = "flash commands";
inline constexpr const char* kPhaseErase = "erase";
inline constexpr const char* kPhaseProgramming = "programming";

// One stretch of time in which the receiver played one role at one line speed.
struct Phase {
  std::string name;
  uint32_t baud = 0;
  SimTime startNs = 0;
  SimTime endNs = 0;  // for the current phase: the time the result was taken
};

// One frame the receiver took in, and its verdict.
struct RecordEntry {
  Stage stage = Stage::kSfld;
  int attempt = 0;  // upload or flash stage, counted from 1
  int index = 0;    // data record number, kEndRecord or kEraseRecord
  uint32_t address = 0;
  uint32_t dataBytes = 0;
  uint8_t verdict = 0;  // SYNC_CODE when accepted, else the error byte
  std::string reason;   // "accepted", or why not
  SimTime timeNs = 0;
};

struct EraseEntry {
  uint32_t start = 0;  // the range of the erase record, [start, end)
  uint32_t end = 0;
  uint32_t firstSector = 0;  // the sectors that overlap it
  uint32_t sectors = 0;
  uint32_t sectorsErased = 0;
  bool failed = false;
  SimTime timeNs = 0;
};

enum class FlashFaultKind {
  kNotErased,          // programmed over bytes the last erase did not leave erased
  kOutsideFlash,       // data for addresses the flash does not have
  kOutsideEraseRange,  // data outside the range of the last erase record
};

struct FlashFault {
  FlashFaultKind kind = FlashFaultKind::kNotErased;
  uint32_t address = 0;
  uint32_t length = 0;
  SimTime timeNs = 0;
};

struct SimEvent {
  SimTime timeNs = 0;
  std::string text;
};

// What happened to the receiver, as data.
struct SimResult {
  std::vector<Phase> phases;
  uint32_t bootLoaderPolls = 0;  // poll bytes the boot loader heard
  int sfldUploads = 0;           // uploads begun
  int sfldStarts = 0;            // times the SFLD was started
  std::vector<Segment> sfld;     // the bytes of the latest SFLD upload
  int flashAttempts = 0;         // flash stages begun
  std::vector<RecordEntry> records;
  std::vector<EraseEntry> erases;
  std::vector<FlashFault> flashFaults;
  std::vector<SimEvent> events;
  bool updateCompleted = false;  // a flash stage ended with its end record accepted
  int completedUpdates = 0;
  SimTime completedNs = 0;
  // The data records of the latest flash stage, as received.
  std::vector<Segment> programmed;

  int Accepted(Stage stage) const;
  int Rejected(Stage stage) const;
};

const char* StageName(Stage stage);
const char* FlashFaultName(FlashFaultKind kind);

}  // namespace gpsfw::sim
