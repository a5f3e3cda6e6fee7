// The fault options. The record faults name a record point STAGE:INDEX, where STAGE is sfld
// or flash and INDEX a data record number counted from 0, "end" or "erase"; the others name
// a phase and a byte position, a time, or a poll.
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

}  // namespace

bool ParseFaultOption(const std::string& option, const std::string& value, sim::Faults& faults) {
  if (option == "--reject") {
    ParseReject(option, value, faults);
  } else if (option == "--flood") {
    ParseFlood(option, value, faults);
  } else if (option == "--silence") {
    ParseSilence(option, value, faults);
  } else if (option == "--reset") {
    ParseReset(option, value, faults);
  } else if (option == "--reset-at") {
    ParseResetAt(option, value, faults);
  } else if (option == "--unplug") {
    ParseUnplug(option, value, faults);
  } else if (option == "--stray-sync") {
    ParseStraySync(option, value, faults);
  } else if (option == "--power-on-ms") {
    faults.powerOnMs = ParseNumber(value, option);
  } else if (option == "--erase-fault") {
    ParseEraseFault(option, value, faults);
  } else {
    return false;
  }
  return true;
}

}  // namespace gpsfw::simtool
