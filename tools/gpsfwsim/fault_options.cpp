// The fault options, in one table: each row names an option, its argument, its lines of
// --help and its parser. The record faults name a record point STAGE:INDEX, where STAGE is
// sfld or flash and INDEX a data record number counted from 0, "end" or "erase"; the others
// name a phase and a byte position, a time, or a poll.
#include <algorithm>
#include <iterator>

#include "protocol/link_codes.h"
#include "tools/gpsfwsim/sim_options.h"

namespace gpsfw::simtool {
namespace {

using sim::RecordPoint;
using sim::Stage;

sim::Stage ParseStage(const std::string& text, const std::string& option) {
  if (text == "sfld") return Stage::kSfld;
  if (text == "flash") return Stage::kFlash;
  throw UsageError(option + ": stage '" + text + "' is neither sfld nor flash");
}

int ParseIndex(const std::string& text, const std::string& option) {
  if (text == "end") return sim::kEndRecord;
  if (text == "erase") return sim::kEraseRecord;
  return static_cast<int>(ParseNumber(text, option));
}

// STAGE:INDEX followed by between `least` and `most` more fields.
std::vector<std::string> Fields(const std::string& value, const std::string& option, size_t least,
                                size_t most, RecordPoint* point) {
  std::vector<std::string> fields = SplitFields(value, ':');
  if (fields.size() < 2 + least || fields.size() > 2 + most) {
    throw UsageError(option + ": '" + value + "' is not STAGE:INDEX with its fields");
  }
  point->stage = ParseStage(fields[0], option);
  point->index = ParseIndex(fields[1], option);
  fields.erase(fields.begin(), fields.begin() + 2);
  return fields;
}

sim::ResetTo ParseResetTo(const std::string& text, const std::string& option) {
  if (text == "application") return sim::ResetTo::kApplication;
  if (text == "boot-loader") return sim::ResetTo::kBootLoader;
  throw UsageError(option + ": the last field is 'application' or 'boot-loader'");
}

void ParseReject(const std::string& option, const std::string& value, sim::Faults& faults) {
  sim::RecordFault fault;
  const auto rest = Fields(value, option, 0, 2, &fault.at);
  if (!rest.empty()) fault.errorByte = ParseByte(rest[0], option);
  if (rest.size() == 2) {
    if (rest[1] != "always") throw UsageError(option + ": the last field may only be 'always'");
    fault.always = true;
  }
  faults.rejects.push_back(fault);
}

void ParseFlood(const std::string& option, const std::string& value, sim::Faults& faults) {
  sim::FloodFault fault;
  const auto rest = Fields(value, option, 0, 1, &fault.at);
  if (!rest.empty()) fault.count = static_cast<int>(ParseNumber(rest[0], option));
  faults.floods.push_back(fault);
}

void ParseSilence(const std::string& option, const std::string& value, sim::Faults& faults) {
  sim::SilenceFault fault;
  const auto rest = Fields(value, option, 1, 2, &fault.at);
  fault.ms = ParseNumber(rest[0], option);
  if (rest.size() == 2) {
    if (rest[1] == "rec-wait") {
      fault.when = sim::SilenceWhen::kBeforeRecWait;
    } else if (rest[1] != "verdict") {
      throw UsageError(option + ": the last field is 'verdict' or 'rec-wait'");
    }
  }
  faults.silences.push_back(fault);
}

void ParseReset(const std::string& option, const std::string& value, sim::Faults& faults) {
  sim::ResetFault fault;
  const auto rest = Fields(value, option, 0, 1, &fault.at);
  if (!rest.empty()) fault.to = ParseResetTo(rest[0], option);
  faults.resets.push_back(fault);
}

struct PhaseName {
  const char* name;
  sim::ReceiverPhase phase;
};

constexpr PhaseName kPhaseNames[] = {
    {"application", sim::ReceiverPhase::kApplication},
    {"boot-poll", sim::ReceiverPhase::kBootPoll},
    {"sfld-upload", sim::ReceiverPhase::kSfldUpload},
    {"sfld-poll", sim::ReceiverPhase::kSfldPoll},
    {"flash-commands", sim::ReceiverPhase::kFlashCommands},
    {"erase-record", sim::ReceiverPhase::kEraseRecord},
    {"erasing", sim::ReceiverPhase::kErasing},
    {"programming", sim::ReceiverPhase::kProgramming},
};

void ParseResetAt(const std::string& option, const std::string& value, sim::Faults& faults) {
  const std::vector<std::string> fields = SplitFields(value, ':');
  if (fields.size() < 2 || fields.size() > 3) {
    throw UsageError(option + ": '" + value + "' is not PHASE:N[:application|boot-loader]");
  }
  sim::ResetAtFault fault;
  const auto named = std::find_if(std::begin(kPhaseNames), std::end(kPhaseNames),
                                  [&](const PhaseName& p) { return fields[0] == p.name; });
  if (named == std::end(kPhaseNames)) {
    throw UsageError(option + ": no phase '" + fields[0] + "'");
  }
  fault.phase = named->phase;
  fault.position = ParseNumber(fields[1], option);
  if (fields.size() == 3) fault.to = ParseResetTo(fields[2], option);
  faults.resetsAt.push_back(fault);
}

void ParseUnplug(const std::string& option, const std::string& value, sim::Faults& faults) {
  const std::vector<std::string> fields = SplitFields(value, ':');
  if (fields.size() < 2 || fields.size() > 3 ||
      (fields.size() == 3 && fields[2] != "power-cycle")) {
    throw UsageError(option + ": '" + value + "' is not AFTER_MS:FOR_MS[:power-cycle]");
  }
  sim::UnplugFault fault;
  fault.afterMs = ParseNumber(fields[0], option);
  fault.forMs = ParseNumber(fields[1], option);
  fault.powerCycle = fields.size() == 3;
  if (fault.forMs == 0) throw UsageError(option + ": the port stays away for at least 1 ms");
  faults.unplugs.push_back(fault);
}

void ParseStraySync(const std::string& option, const std::string& value, sim::Faults& faults) {
  const uint32_t poll = ParseNumber(value, option);
  if (poll == 0) throw UsageError(option + ": polls are counted from 1");
  faults.straySyncPolls.push_back(poll);
}

void ParseEraseFault(const std::string& option, const std::string& value, sim::Faults& faults) {
  const std::vector<std::string> fields = SplitFields(value, ':');
  if (fields.size() > 2) throw UsageError(option + " takes SECTORS[:BYTE]");
  sim::EraseFault fault;
  fault.afterSectors = ParseNumber(fields[0], option);
  if (fields.size() == 2) fault.byte = ParseByte(fields[1], option);
  faults.eraseFaults.push_back(fault);
}

void ParsePowerOnMs(const std::string& option, const std::string& value, sim::Faults& faults) {
  faults.powerOnMs = ParseNumber(value, option);
}

// A day at most, so that the end of the faults in nanoseconds stays far from overflowing.
constexpr uint32_t kMostFaultSeconds = 86400;

void ParseFaultsFor(const std::string& option, const std::string& value, sim::Faults& faults) {
  const uint32_t seconds = ParseNumber(value, option);
  if (seconds == 0 || seconds > kMostFaultSeconds) {
    throw UsageError(option + ": from 1 to 86400 seconds");
  }
  faults.faultsForMs = seconds * 1000;
}

void ParseNoBootEcho(const std::string&, const std::string&, sim::Faults& faults) {
  ++faults.missingBootModeEchoes;
}

void ParseNoEraseSync(const std::string&, const std::string&, sim::Faults& faults) {
  ++faults.missingEraseSyncs;
}

// What a line at 230400 baud carries: more garbage than that cannot get onto the line.
constexpr double kMaxGarbagePerSecond = 23040;

void ParseGarbage(const std::string& option, const std::string& value, sim::Faults& faults) {
  faults.garbagePerSecond = ParsePositive(value, option, kMaxGarbagePerSecond, "bytes per second");
}

void ParseSeed(const std::string& option, const std::string& value, sim::Faults& faults) {
  faults.seed = ParseNumber(value, option);
}

struct FaultOption {
  const char* name;
  const char* argument;  // nullptr: a flag without a value
  const char* help;      // lines of --help, each ended by a newline
  void (*parse)(const std::string& option, const std::string& value, sim::Faults& faults);
};

// In the order of --help.
constexpr FaultOption kFaultOptions[] = {
    {"--reject", "REC[:BYTE[:always]]", "answer the record with BYTE (0x81), once or always\n",
     ParseReject},
    {"--flood", "REC[:COUNT]",
     "COUNT REC_WAIT_CODE after its frame instead of a verdict\n"
     "(201; the host sends the frame again), once\n",
     ParseFlood},
    {"--silence", "REC:MS[:verdict|rec-wait]",
     "neither answer nor listen for MS before the verdict\n"
     "(or before REC_WAIT_CODE at its announcement), once\n",
     ParseSilence},
    {"--reset", "REC[:application|boot-loader]",
     "restart after the verdict: a power cycle into the\n"
     "application, or into the boot loader, once\n",
     ParseReset},
    {"--reset-at", "PHASE:N[:application|boot-loader]",
     "restart once the receiver has taken N bytes from the\n"
     "host since it entered PHASE (0: as it enters it; the\n"
     "Nth byte gets no answer), once. PHASE is one of\n"
     "application, boot-poll, sfld-upload, sfld-poll,\n"
     "flash-commands (version and type queries, boot mode,\n"
     "erase command), erase-record, erasing (N counts the\n"
     "sector reports sent: the restart comes while the next\n"
     "sector is erased), programming\n",
     ParseResetAt},
    {"--erase-fault", "SECTORS[:BYTE]",
     "after SECTORS sector reports send BYTE (0x84) and\n"
     "abandon the erase; one per erase, in order\n",
     ParseEraseFault},
    {"--stray-sync", "N",
     "answer the boot loader's Nth poll with one SYNC_CODE\n"
     "instead of its answer, once (polls are every poll byte\n"
     "it hears while polled, across wake-ups, from 1)\n",
     ParseStraySync},
    {"--power-on-ms", "MS",
     "the receiver is off (hears and says nothing) for MS\n"
     "after the start\n",
     ParsePowerOnMs},
    {"--unplug", "AFTER_MS:FOR_MS[:power-cycle]",
     "AFTER_MS after the start the pty closes (the host's\n"
     "port hangs up, as a USB adapter pulled out) and the\n"
     "link is removed; FOR_MS later a new pty is published at\n"
     "the same link. Bytes in flight are lost. The receiver\n"
     "keeps its state, or with power-cycle is off meanwhile\n"
     "and starts in its application. Needs --link; unplugs\n"
     "may not overlap\n",
     ParseUnplug},
    {"--no-boot-echo", nullptr, "leave one boot-mode command unanswered\n", ParseNoBootEcho},
    {"--no-erase-sync", nullptr, "leave one erase command without SYNC_CODE\n", ParseNoEraseSync},
    {"--faults-for", "SECONDS",
     "the faults above strike only in the first SECONDS\n"
     "after the start (1 to 86400), as a receiver that\n"
     "misbehaves for a while and recovers; --power-on-ms,\n"
     "--unplug and --garbage are not affected\n",
     ParseFaultsFor},
    {"--garbage", "PER_SECOND",
     "random bytes while the application or the boot loader\n"
     "is polled (never SYNC_CODE or REC_WAIT_CODE), at most\n"
     "23040\n",
     ParseGarbage},
    {"--seed", "N",
     "for the garbage, and for the bits the host's UART\n"
     "samples next to an edge under --nmea (1)\n",
     ParseSeed},
};

// Where the help text of every row begins; a longer option and argument get a line of
// their own.
constexpr size_t kHelpColumn = 33;

const FaultOption* Find(const std::string& option) {
  const auto found = std::find_if(std::begin(kFaultOptions), std::end(kFaultOptions),
                                  [&](const FaultOption& f) { return option == f.name; });
  return found == std::end(kFaultOptions) ? nullptr : found;
}

}  // namespace

bool IsFaultValueOption(const std::string& option) {
  const FaultOption* fault = Find(option);
  return fault != nullptr && fault->argument != nullptr;
}

bool IsFaultFlag(const std::string& option) {
  const FaultOption* fault = Find(option);
  return fault != nullptr && fault->argument == nullptr;
}

bool ParseFaultOption(const std::string& option, const std::string& value, sim::Faults& faults) {
  const FaultOption* fault = Find(option);
  if (fault == nullptr) return false;
  fault->parse(option, value, faults);
  return true;
}

std::string FaultHelp() {
  std::string help;
  for (const FaultOption& fault : kFaultOptions) {
    std::string head = std::string("  ") + fault.name;
    if (fault.argument != nullptr) head += std::string(" ") + fault.argument;
    // At least two spaces between the option and its help.
    help += head.size() + 2 <= kHelpColumn ? head + std::string(kHelpColumn - head.size(), ' ')
                                           : head + "\n" + std::string(kHelpColumn, ' ');
    for (const char* line = fault.help; *line != '\0';) {
      const char* end = line;
      while (*end != '\n') ++end;
      if (line != fault.help) help += std::string(kHelpColumn, ' ');
      help.append(line, end + 1);
      line = end + 1;
    }
  }
  return help;
}

}  // namespace gpsfw::simtool
