#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/application.h"
#include "sim/boot_loader.h"
#include "sim/fault_plan.h"
#include "sim/flash.h"
#include "sim/flash_eraser.h"
#include "sim/flash_loader.h"
#include "sim/receiver.h"
#include "sim/receiver_config.h"
#include "sim/receiver_mode.h"
#include "sim/record_exchange.h"
#include "sim/sim_result.h"
#include "sim/timeline.h"
#include "sim/tx_queue.h"

namespace gpsfw::sim {

// The receiver behind Receiver: what its parts share (the clock, the UART, the role it plays,
// the flash, the fault plan and the result) and the changes of role. Each part does one job:
// the application waits for the wake sequence, the boot loader answers polls and takes the
// SFLD, the SFLD (the flash loader) takes commands and the image, the eraser erases, and the
// record exchange takes records for both loaders.
class ReceiverCore {
 public:
  explicit ReceiverCore(const ReceiverConfig& config);
  ReceiverCore(const ReceiverCore&) = delete;
  ReceiverCore& operator=(const ReceiverCore&) = delete;

  // The face Receiver shows.
  void AdvanceTo(SimTime t) { timeline_.AdvanceTo(t); }
  RxResult OnByte(uint8_t byte, SimTime arrivalNs, uint32_t senderBaud);
  SimTime NextEventNs() const;
  bool TakeOutput(TxByte& out) { return tx_.Take(Now(), out); }
  SimTime NextOutputStartNs() const { return tx_.NextStart(); }
  SimTime Now() const { return timeline_.Now(); }
  uint32_t Baud() const { return baud_; }
  const char* StateName() const { return ModeName(mode_); }
  const ReceiverConfig& Config() const { return config_; }
  const Flash& GetFlash() const { return flash_; }
  SimResult Result() const;
  const SimResult& Live() const { return result_; }
  void PowerOff();
  void PowerOn();

  // What the parts share.
  Mode CurrentMode() const { return mode_; }
  const Timing& Times() const { return config_.timing; }
  SimResult& Results() { return result_; }
  Flash& FlashMemory() { return flash_; }
  // The faults still to come: none once the plan's time is over.
  FaultPlan& Plan() {
    plan_.ExpireAt(Now());
    return plan_;
  }
  Timeline& Timers() { return timeline_; }
  SimTime InUs(uint32_t us) const { return Now() + UsToNs(us); }

  Application& App() { return application_; }
  BootLoader& Boot() { return bootLoader_; }
  FlashLoader& Sfld() { return flashLoader_; }
  FlashEraser& Eraser() { return eraser_; }
  RecordExchange& Exchange() { return exchange_; }

  // The UART: bytes at the current rate, the first not before `notBefore`; an answer goes
  // out after the firmware's reply time.
  void Send(const uint8_t* bytes, size_t count, SimTime notBefore);
  // The same at a rate other than the one the UART listens at (the application's NMEA port).
  void SendAtRate(const uint8_t* bytes, size_t count, uint32_t baud, SimTime notBefore);
  // Drops whatever has not left the UART by now.
  void CutOffOutput() { tx_.CutOff(Now()); }
  void Reply(const std::string& text);
  void Reply(const std::vector<uint8_t>& bytes);
  void Reply(uint8_t byte);
  SimTime TxIdleAt() const { return tx_.IdleAt(Now()); }
  bool Backlogged() const { return tx_.Backlogged(Now()); }

  // Neither answers nor listens for `ms`; the end of the silence.
  SimTime SilenceFor(int64_t ms);
  bool Silent() const { return Now() < silentUntil_; }

  // Changes of role. Every one goes through SetMode, which starts the count of bytes in the
  // new role and asks the fault plan for a restart as the role begins.
  void Enter(Mode mode, uint32_t baud, const char* phase);
  void SetMode(Mode mode);
  // Deaf in `meanwhile` until `at`, then `mode` at `baud`.
  void SwitchAt(SimTime at, Mode mode, uint32_t baud, const char* phase,
                Mode meanwhile = Mode::kStarting);
  // Whether the plan restarts the receiver at `position` in the role `mode` stands for.
  bool TakeResetAt(Mode mode, int64_t position, ResetTo* to);
  void Reset(ResetTo to);
  void EnterApplication();
  void Event(const std::string& text);

 private:
  void Dispatch(uint8_t byte, bool garbled);
  // Stops whatever the receiver was doing, as a reset or a loss of power does.
  void Interrupt();

  ReceiverConfig config_;
  FaultPlan plan_;
  Flash flash_;
  SimResult result_;
  Timeline timeline_;
  TxQueue tx_;
  Mode mode_ = Mode::kOff;
  uint32_t baud_ = 0;
  SimTime silentUntil_ = 0;
  uint32_t phaseBytes_ = 0;  // bytes taken since the current role began

  Application application_;
  BootLoader bootLoader_;
  FlashLoader flashLoader_;
  FlashEraser eraser_;
  RecordExchange exchange_;
};

}  // namespace gpsfw::sim
