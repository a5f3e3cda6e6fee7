#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/link_codes.h"

namespace gpsfw::sim {

// Line speeds of the receiver's loaders. The application listens at its power-on rate.
// These are the receiver's own, kept apart from the host's on purpose: a host that switches
// to a wrong rate must meet a receiver that stays at the right one.
inline constexpr uint32_t kBootLoaderBaud = 19200;
inline constexpr uint32_t kFlashBaud = 115200;

// The two loaders that take records: the boot loader takes the SFLD into RAM, the SFLD
// takes the firmware image into flash.
enum class Stage { kSfld, kFlash };

// Records are counted from 0 within one attempt of a stage (an upload or a flash stage that
// starts again starts again at 0). The end record and the erase-range record have names.
inline constexpr int kEndRecord = -1;
inline constexpr int kEraseRecord = -2;

struct RecordPoint {
  Stage stage = Stage::kSfld;
  int index = 0;  // data record number, kEndRecord or kEraseRecord
};

// Answers record `at` with `errorByte` instead of SYNC_CODE; the record is not kept. Once,
// or at every attempt when `always` is set.
struct RecordFault {
  RecordPoint at;
  uint8_t errorByte = BAD_CSUM;
  bool always = false;
};

// After the frame of record `at`, sends `count` REC_WAIT_CODE bytes instead of a verdict and
// waits for the frame again. The host sends the frame again once per REC_WAIT_CODE beyond
// its 200th, so 201 gets exactly one more copy. Once.
struct FloodFault {
  RecordPoint at;
  int count = 201;
};

enum class SilenceWhen {
  kBeforeRecWait,  // at the announcement of record `at` (not for kEndRecord)
  kBeforeVerdict,  // when the frame of record `at` is complete
};

// The receiver neither answers nor listens for `ms` (bytes that arrive are lost), then goes
// on: before a verdict it gives the verdict; before REC_WAIT_CODE it sends one, since it
// still waits for a record. Once.
struct SilenceFault {
  RecordPoint at;
  SilenceWhen when = SilenceWhen::kBeforeVerdict;
  uint32_t ms = 0;
};

enum class ResetTo {
  kApplication,  // a power cycle: the application at its power-on rate, waiting for a wake-up
  kBootLoader,   // a watchdog reset into the resident boot loader, polled at 19200
};

// Once the verdict on record `at` has left the receiver, it restarts. Flash contents stay,
// the SFLD in RAM is lost. Once.
struct ResetFault {
  RecordPoint at;
  ResetTo to = ResetTo::kApplication;
};

// The receiver's roles as a reset-at fault names them.
enum class ReceiverPhase {
  kApplication,    // waiting for the wake sequence at its power-on rate
  kBootPoll,       // the boot loader, polled at 19200
  kSfldUpload,     // the boot loader taking the SFLD's records
  kSfldPoll,       // the SFLD started, polled at 19200
  kFlashCommands,  // the SFLD at 115200: version and type queries, boot mode, erase command
  kEraseRecord,    // the SFLD waiting for the erase range
  kErasing,        // the SFLD erasing sectors
  kProgramming,    // the SFLD taking the image's records
};

// The receiver restarts once it has taken `position` bytes from the host since it last
// entered `phase` (0: as it enters it); the last of them gets no answer. In kErasing the
// position counts the sector reports sent: the restart comes while the next sector is being
// erased, which stays as it was. Once.
struct ResetAtFault {
  ReceiverPhase phase = ReceiverPhase::kBootPoll;
  uint32_t position = 0;
  ResetTo to = ResetTo::kApplication;
};

// The host's port vanishes `afterMs` after the start for `forMs`, as a USB adapter pulled out
// and plugged in again: bytes in flight are lost, nothing gets through meanwhile. The
// receiver keeps running (it has its own supply) unless `powerCycle` is set: then it is off
// while the port is gone and powers on into its application when the port comes back. The
// transports act on these; the receiver model itself has no port.
struct UnplugFault {
  uint32_t afterMs = 0;
  uint32_t forMs = 0;
  bool powerCycle = false;
};

// During an erase, after `afterSectors` sector reports, sends `byte` and abandons the erase;
// the sectors not yet reported stay as they were. ERASE_FAIL_CODE is a failed erase, any
// other byte a stray one. Each entry serves one erase, in order.
struct EraseFault {
  uint32_t afterSectors = 0;
  uint8_t byte = ERASE_FAIL_CODE;
};

// The faults of one receiver, one list per kind. The receiver turns them into its fault
// plan (sim/fault_plan.h); sim/README.md tells how to add a kind.
struct Faults {
  std::vector<RecordFault> rejects;
  std::vector<FloodFault> floods;
  std::vector<SilenceFault> silences;
  std::vector<ResetFault> resets;
  std::vector<EraseFault> eraseFaults;
  std::vector<ResetAtFault> resetsAt;
  // Polls the boot loader answers with a lone SYNC_CODE instead of its answer, each once.
  // Every poll byte it hears while polled counts, across wake-ups, from 1.
  std::vector<uint32_t> straySyncPolls;
  std::vector<UnplugFault> unplugs;
  uint32_t powerOnMs = 0;         // off (deaf and mute) this long after the start
  int missingBootModeEchoes = 0;  // BOOT_MODE_CODE commands the SFLD leaves unanswered
  int missingEraseSyncs = 0;      // erase commands the SFLD leaves without SYNC_CODE
  // The planned faults (rejects, floods, silences, resets, erase faults, missing answers)
  // strike only this long after the start, as a receiver that misbehaves for a while and then
  // recovers; 0 keeps them for ever. Garbage, the late power-on and unplugs are not planned.
  uint32_t faultsForMs = 0;
  // Random bytes per second while the application or the boot loader is being polled. They
  // never include SYNC_CODE or REC_WAIT_CODE, which would start a stage on the host.
  double garbagePerSecond = 0;
  uint32_t seed = 1;
};

// A run of equal sectors.
struct SectorRegion {
  uint32_t count = 0;
  uint32_t size = 0;
};

// NOR flash: the first 16 KiB (the PFLD area) in 4 KiB sectors, the rest in 64 KiB sectors,
// 0x104000 bytes in all, enough for the highest FW end address a container may have.
struct FlashLayout {
  uint32_t base = PFLD_BASE;
  std::vector<SectorRegion> regions = {{4, 0x1000}, {16, 0x10000}};
};

// Realistic but small; every figure is in microseconds.
struct Timing {
  uint32_t bootUs = 5000;              // wake sequence received -> boot loader listens
  uint32_t sfldStartUs = 10000;        // SFLD end record answered -> SFLD listens
  uint32_t rebootUs = 20000;           // update complete -> application runs
  uint32_t replyUs = 200;              // before every answer
  uint32_t programRecordUs = 2000;     // programming one data record, before its verdict
  uint32_t eraseSectorUs = 20000;      // erasing one sector
  uint32_t frameGapUs = 250000;        // longest pause inside a frame; then RECORD_TIMEOUT
  uint32_t resyncUs = 20000;           // quiet line after a rejected frame; then REC_WAIT_CODE
  uint32_t sfldIdleUs = 2000000;       // SFLD at 115200 without traffic: back to 19200
  uint32_t chatterPeriodUs = 1000000;  // one NMEA sentence per period
};

// The application's NMEA stream at a rate of its own, whatever the host listens at: a
// receiver's NMEA port is often set to another speed than its loaders use. The application
// still listens for the wake sequence at its power-on rate.
struct NmeaOutput {
  uint32_t baud = 0;         // 0: no stream; otherwise 4800 to 115200
  uint32_t periodMs = 1000;  // one burst of sentences per period
};

struct ReceiverConfig {
  uint32_t powerOnBaud = 57600;  // the application's rate: 4800 or 57600
  bool chatter = false;          // the application sends NMEA sentences
  NmeaOutput nmea;
  FlashLayout flash;
  Timing timing;
  std::string bootLoaderVersion = "$VER BL 2.04\r\n";  // answer to SYNC_CODE polls
  std::string sfldVersion = "$VER SFLD 1.10\r\n";      // answer to VER_QUERY_CODE
  uint8_t flashType = 5;
  // When not empty, the whole answer to TYPE_QUERY_CODE instead of 0x91 and `flashType`.
  std::vector<uint8_t> typeReplyOverride;
  Faults faults;
};

}  // namespace gpsfw::sim
