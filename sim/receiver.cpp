#include "sim/receiver.h"

#include "sim/receiver_core.h"

namespace gpsfw::sim {

Receiver::Receiver(const ReceiverConfig& config) : core_(new ReceiverCore(config)) {}
Receiver::~Receiver() = default;

void Receiver::AdvanceTo(SimTime nowNs) {
  core_->AdvanceTo(nowNs);
}
RxResult Receiver::OnByte(uint8_t byte, SimTime arrivalNs, uint32_t senderBaud) {
  return core_->OnByte(byte, arrivalNs, senderBaud);
}
SimTime Receiver::NextEventNs() const {
  return core_->NextEventNs();
}
bool Receiver::TakeOutput(TxByte& out) {
  return core_->TakeOutput(out);
}
SimTime Receiver::NextOutputStartNs() const {
  return core_->NextOutputStartNs();
}

SimTime Receiver::Now() const {
  return core_->Now();
}
uint32_t Receiver::ListenBaud() const {
  return core_->Baud();
}
const char* Receiver::StateName() const {
  return core_->StateName();
}
void Receiver::PowerOff() {
  core_->PowerOff();
}
void Receiver::PowerOn() {
  core_->PowerOn();
}
const ReceiverConfig& Receiver::Config() const {
  return core_->Config();
}
const Flash& Receiver::GetFlash() const {
  return core_->GetFlash();
}
SimResult Receiver::Result() const {
  return core_->Result();
}
const SimResult& Receiver::Live() const {
  return core_->Live();
}

}  // namespace gpsfw::sim
