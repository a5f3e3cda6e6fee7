#include "sim/boot_loader.h"

#include <string>

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {

void BootLoader::Start() {
  core_.Enter(Mode::kStarting, kBootLoaderBaud, kPhaseBootLoader);
  core_.SwitchAt(core_.InUs(core_.Times().bootUs), Mode::kBootPoll, kBootLoaderBaud, nullptr);
}

void BootLoader::OnPollByte(uint8_t byte) {
  SimResult& result = core_.Results();
  const bool poll = byte == SYNC_CODE || byte == REC_POLL_CODE || byte == PFLD_VER_CODE;
  if (poll && core_.Plan().Take(FaultKind::kStraySync, ReceiverPhase::kBootPoll,
                                ++result.bootLoaderPolls)) {
    core_.Event("SYNC_CODE instead of the answer to poll " +
                std::to_string(result.bootLoaderPolls));
    core_.Reply(SYNC_CODE);
    return;
  }
  switch (byte) {
    case SYNC_CODE:
      core_.Reply(core_.Config().bootLoaderVersion);
      break;
    case REC_POLL_CODE:
      core_.Reply(REC_POLL_CODE);
      break;
    case PFLD_VER_CODE:
      // The boot loader has no PFLD to report: it asks for the SFLD instead.
      BeginUpload();
      break;
    default:
      break;
  }
}

void BootLoader::BeginUpload() {
  SimResult& result = core_.Results();
  ++result.sfldUploads;
  result.sfld.clear();
  core_.Exchange().BeginAttempt();
  core_.Exchange().Abandon();
  core_.Event("SFLD upload " + std::to_string(result.sfldUploads) + " begins");
  core_.Enter(Mode::kSfldUpload, kBootLoaderBaud, kPhaseSfldUpload);
  core_.Reply(REC_WAIT_CODE);
}

void BootLoader::KeepData(uint32_t address, const std::vector<uint8_t>& payload) {
  AppendSegment(core_.Results().sfld, address, payload.data() + kRecordAddressBytes,
                payload.size() - kRecordAddressBytes);
}

void BootLoader::StartSfld() {
  SimResult& result = core_.Results();
  ++result.sfldStarts;
  core_.Event("SFLD starts with " + std::to_string(SegmentBytes(result.sfld)) + " bytes");
  core_.SwitchAt(core_.TxIdleAt() + UsToNs(core_.Times().sfldStartUs), Mode::kSfldPoll,
                 kBootLoaderBaud, kPhaseSfld);
}

}  // namespace gpsfw::sim
