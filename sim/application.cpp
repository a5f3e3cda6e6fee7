#include "sim/application.h"

#include <algorithm>
#include <string>

#include "protocol/link_codes.h"
#include "sim/nmea.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {
namespace {

constexpr size_t kWakeLength = sizeof WAKE_SEQUENCE;

// A position fix as the application reports it once a second; the checksum is appended.
constexpr const char* kChatterBody =
    "GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,";

}  // namespace

Application::Application(ReceiverCore& core, uint32_t seed) : core_(core), random_(seed) {}

void Application::OnByte(uint8_t byte, bool garbled) {
  // Only the wake sequence at the application's own rate counts.
  if (garbled) {
    wakeWindow_.clear();
    return;
  }
  wakeWindow_.push_back(byte);
  if (wakeWindow_.size() > kWakeLength) wakeWindow_.pop_front();
  if (wakeWindow_.size() == kWakeLength &&
      std::equal(wakeWindow_.begin(), wakeWindow_.end(), WAKE_SEQUENCE)) {
    Wake();
  }
}

void Application::Wake() {
  core_.Event("wake sequence at " + std::to_string(core_.Baud()));
  wakeWindow_.clear();
  // The application hands the UART to the boot loader: the rest of its NMEA burst is not sent.
  if (core_.Config().nmea.baud != 0) core_.CutOffOutput();
  core_.Boot().Start();
}

void Application::StartPeriodicWork() {
  const ReceiverConfig& config = core_.Config();
  if (config.chatter && config.timing.chatterPeriodUs > 0) {
    core_.Timers().Schedule(core_.InUs(config.timing.chatterPeriodUs), [this] { Chatter(); });
  }
  if (config.nmea.baud != 0 && config.nmea.periodMs > 0) {
    core_.Timers().Schedule(core_.Now() + MsToNs(config.nmea.periodMs), [this] { NmeaStream(); });
  }
  if (config.faults.garbagePerSecond > 0) {
    core_.Timers().Schedule(
        core_.Now() + static_cast<SimTime>(kNsPerSecond / config.faults.garbagePerSecond),
        [this] { Garbage(); });
  }
}

void Application::Chatter() {
  if (core_.CurrentMode() == Mode::kApplication && !core_.Backlogged()) {
    const std::string sentence = NmeaSentence(kChatterBody);
    core_.Send(reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size(), core_.Now());
  }
  core_.Timers().Schedule(core_.InUs(core_.Times().chatterPeriodUs), [this] { Chatter(); });
}

void Application::NmeaStream() {
  const NmeaOutput& nmea = core_.Config().nmea;
  if (core_.CurrentMode() == Mode::kApplication && !core_.Backlogged()) {
    const std::string burst = NmeaBurst(core_.Now() / kNsPerMs);
    core_.SendAtRate(reinterpret_cast<const uint8_t*>(burst.data()), burst.size(), nmea.baud,
                     core_.Now());
  }
  core_.Timers().Schedule(core_.Now() + MsToNs(nmea.periodMs), [this] { NmeaStream(); });
}

void Application::Garbage() {
  const Mode mode = core_.CurrentMode();
  if ((mode == Mode::kApplication || mode == Mode::kBootPoll) && !core_.Backlogged()) {
    uint8_t byte = SYNC_CODE;
    while (byte == SYNC_CODE || byte == REC_WAIT_CODE) byte = static_cast<uint8_t>(random_());
    core_.Send(&byte, 1, core_.Now());
  }
  core_.Timers().Schedule(
      core_.Now() + static_cast<SimTime>(kNsPerSecond / core_.Config().faults.garbagePerSecond),
      [this] { Garbage(); });
}

}  // namespace gpsfw::sim
