#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sim/flash.h"
#include "sim/frame_decoder.h"
#include "sim/receiver.h"
#include "sim/receiver_config.h"
#include "sim/sim_result.h"

namespace gpsfw::sim {

// A record's payload starts with its target address.
inline constexpr size_t kRecordAddressBytes = 4;

// The receiver's state machine behind Receiver. Its own work is a set of timers ordered by
// time and creation, so that equal inputs always give equal runs.
class ReceiverCore {
 public:
  explicit ReceiverCore(const ReceiverConfig& config);

  void AdvanceTo(SimTime t);
  RxResult OnByte(uint8_t byte, SimTime arrivalNs, uint32_t senderBaud);
  SimTime NextEventNs() const;
  bool TakeOutput(TxByte& out);

  SimTime Now() const { return now_; }
  uint32_t Baud() const { return baud_; }
  const char* StateName() const;
  const ReceiverConfig& Config() const { return config_; }
  const Flash& GetFlash() const { return flash_; }
  SimResult Result() const;
  const SimResult& Live() const { return result_; }
  void PowerOff();
  void PowerOn();

 private:
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
  // One record exchange in the modes that take records.
  enum class Exchange { kAwaitAnnounce, kAwaitFrame, kInFrame, kBusy, kResync };

  using Action = std::function<void()>;
  using TimerId = std::pair<SimTime, uint64_t>;
  static constexpr TimerId kNoTimer{kNever, 0};

  // receiver_core.cpp: time, line, roles
  TimerId Schedule(SimTime at, Action action);
  void Cancel(TimerId& id);
  void Send(const uint8_t* bytes, size_t count, SimTime notBefore);
  void Reply(const std::string& text);
  void Reply(const std::vector<uint8_t>& bytes);
  void Reply(uint8_t byte);
  SimTime TxIdleAt() const;
  SimTime InUs(uint32_t us) const { return now_ + UsToNs(us); }
  void Enter(Mode mode, uint32_t baud, const char* phase);
  // Every change of role goes through here: it starts the count of bytes in the new role.
  void SetMode(Mode mode);
  // Deaf in `meanwhile` until `at`, then `mode` at `baud`.
  void SwitchAt(SimTime at, Mode mode, uint32_t baud, const char* phase,
                Mode meanwhile = Mode::kStarting);
  void Event(const std::string& text);
  void Dispatch(uint8_t byte, bool garbled);
  void StartPeriodicWork();
  bool Backlogged() const;
  void Chatter();
  void Garbage();
  // Stops whatever the receiver was doing, as a reset or a loss of power does.
  void Interrupt();
  void Reset(ResetTo to);
  void EnterApplication();
  void ApplicationByte(uint8_t byte, bool garbled);
  void Wake();

  // receiver_loaders.cpp: what the boot loader and the SFLD do with bytes and records
  void BootPollByte(uint8_t byte);
  void BeginUpload();
  void StartSfld();
  void SfldPollByte(uint8_t byte);
  void FlashCommandByte(uint8_t byte);
  void BeginEraseCommand();
  void ArmIdleTimer();
  void IdleTimeout();
  void Fallback(const std::string& why);
  void StartErase(uint32_t start, uint32_t end);
  void EraseNextSector();
  void FinishErase();
  void KeepSfldData(uint32_t address, const std::vector<uint8_t>& payload);
  void ProgramData(uint32_t address, const std::vector<uint8_t>& payload);
  void AfterVerdict(int index);
  void NoteCompletion();
  void CompleteUpdate();
  bool InFlashStage() const;

  // receiver_records.cpp: the record exchange
  void RecordByte(uint8_t byte);
  void Announce();
  void FrameByte(uint8_t byte);
  void FrameTimeout();
  void FrameDone(FrameStatus status);
  void CompleteRecord();
  bool CheckEraseRecord(const std::vector<uint8_t>& payload, int index, uint32_t address);
  void Accept(int index, uint32_t address, uint32_t dataBytes);
  void Reject(uint8_t errorByte, const std::string& reason, int index, uint32_t address);
  void EndResync();
  void Note(int index, uint32_t address, uint32_t dataBytes, uint8_t verdict,
            const std::string& reason);
  Stage CurrentStage() const;
  int CurrentIndex(bool endRecord) const;
  int Attempt() const;
  bool TakeRejectFault(int index, uint8_t* errorByte);
  bool TakeFloodFault(int index, int* count);
  bool TakeSilence(int index, SilenceWhen when, uint32_t* ms);
  bool TakeReset(int index, ResetTo* to);
  bool TakeResetAt(Mode mode, uint32_t position, ResetTo* to);
  bool TakeStraySync(uint32_t poll);

  ReceiverConfig config_;
  Faults faults_;  // what is left of the configured faults
  Flash flash_;
  SimResult result_;
  std::mt19937 random_;

  SimTime now_ = 0;
  uint64_t nextSequence_ = 0;
  std::map<TimerId, Action> timers_;
  std::deque<TxByte> tx_;
  SimTime txBusyUntil_ = 0;

  Mode mode_ = Mode::kOff;
  uint32_t baud_ = 0;
  std::deque<uint8_t> wakeWindow_;
  SimTime silentUntil_ = 0;

  Exchange exchange_ = Exchange::kAwaitAnnounce;
  FrameDecoder decoder_;
  int acceptedData_ = 0;  // data records accepted in this attempt
  TimerId frameTimer_ = kNoTimer;
  TimerId resyncTimer_ = kNoTimer;
  TimerId idleTimer_ = kNoTimer;
  bool eraseArmed_ = false;  // SYNC_CODE seen, ERASE_CODE may follow
  uint32_t eraseStart_ = 0;  // the range of the erase record being answered
  uint32_t eraseEnd_ = 0;
  uint32_t eraseTarget_ = 0;  // sectors this erase gets through before it ends or fails
  SimTime eraseAt_ = 0;       // when the latest sector of the erase was done
  int eraseFaultByte_ = -1;   // what ends this erase instead of SYNC_CODE, -1 for nothing
  uint32_t phaseBytes_ = 0;   // bytes taken since the current role began
};

}  // namespace gpsfw::sim
