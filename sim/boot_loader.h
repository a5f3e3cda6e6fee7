#pragma once

#include <cstdint>
#include <vector>

namespace gpsfw::sim {

class ReceiverCore;

// The resident boot loader: polled at 19200, it reports its version, answers REC_POLL_CODE,
// and on PFLD_VER_CODE (it has no PFLD to report) asks for the SFLD, whose records it keeps
// in RAM and then starts.
class BootLoader {
 public:
  explicit BootLoader(ReceiverCore& core) : core_(core) {}

  // Woken, or restarted by the watchdog: it boots, then listens at 19200.
  void Start();
  void OnPollByte(uint8_t byte);
  // A new upload: the SFLD in RAM so far is dropped.
  void BeginUpload();
  void KeepData(uint32_t address, const std::vector<uint8_t>& payload);
  // The end record was answered: the SFLD takes over.
  void StartSfld();

 private:
  ReceiverCore& core_;
};

}  // namespace gpsfw::sim
