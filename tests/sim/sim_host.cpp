#include "tests/sim/sim_host.h"

#include "platform/serial_driver.h"
#include "protocol/link_codes.h"

namespace gpsfw::sim::test {
namespace {

constexpr uint32_t kWakeSyncPauseMs = 400;
constexpr int kWakeSyncs = 4;
constexpr uint32_t kSfldAddress = 0x20000000;

}  // namespace

SimHost::SimHost(const ReceiverConfig& config, VirtualTransportOptions options)
    : receiver(config), transport(receiver, options), installed(transport) {
  OpenPort(link, platform::Serial(), L"sim", 57600);
}

SimHost::~SimHost() {
  ClosePort(link);
}

void SimHost::Send(const std::vector<uint8_t>& bytes) {
  if (!bytes.empty()) WriteBlock(link, bytes.data(), bytes.size());
}

void SimHost::Send(const RecordPacket& packet) {
  WriteBlock(link, packet.frame, packet.length);
}

std::vector<uint8_t> SimHost::Collect(uint32_t ms) {
  std::vector<uint8_t> bytes;
  const uint64_t deadline = transport.NowUs() + uint64_t{ms} * 1000;
  while (transport.NowUs() < deadline) {
    const uint32_t left = static_cast<uint32_t>((deadline - transport.NowUs() + 999) / 1000);
    if (platform::Serial().WaitReadable(link.port, left) != platform::WaitResult::kReadable) break;
    uint8_t buffer[256];
    const long n = platform::Serial().Read(link.port, buffer, sizeof buffer);
    if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

std::vector<uint8_t> SimHost::Ask(uint8_t byte, uint32_t ms) {
  Send(byte);
  return Collect(ms);
}

void SimHost::Wake() {
  for (uint32_t wakeBaud : {4800u, 57600u}) {
    Baud(wakeBaud);
    WriteBlock(link, WAKE_SEQUENCE, sizeof WAKE_SEQUENCE);
    Baud(19200);
    for (int i = 0; i < kWakeSyncs; ++i) {
      if (i > 0) platform::SleepMs(kWakeSyncPauseMs);
      WriteByte(link, SYNC_CODE);
    }
  }
  Collect(200);
}

int SimHost::Record(const RecordPacket& packet, uint32_t ms) {
  PurgePort(link, PURGE_ALL);
  Send(SYNC_CODE);
  if (!WaitForByte(link, REC_WAIT_CODE)) return -1;
  Send(packet);
  const uint64_t deadline = transport.NowUs() + uint64_t{ms} * 1000;
  uint8_t byte = 0;
  while (transport.NowUs() < deadline) {
    if (!ReadByte(link, byte)) continue;
    if (byte != REC_WAIT_CODE) return byte;
  }
  return -1;
}

void SimHost::UploadSfld(size_t bytes) {
  Wake();
  Ask(PFLD_VER_CODE);  // REC_WAIT_CODE
  Record(DataRecord(kSfldAddress, Pattern(bytes, 7)));
  Record(EndRecord());
  Collect(100);
}

void SimHost::ToFlashCommands() {
  UploadSfld();
  Send(SYNC_CODE);
  Collect(200);  // SYNC_CODE at 19200
  Baud(115200);
}

std::vector<uint8_t> SimHost::Erase(uint32_t start, uint32_t end) {
  Send(SYNC_CODE);
  platform::SleepMs(10);
  Send(ERASE_CODE);
  WaitForByte(link, SYNC_CODE);
  const int verdict = Record(EraseRecord(start, end));
  std::vector<uint8_t> answers{static_cast<uint8_t>(verdict)};
  if (verdict != SYNC_CODE) return answers;
  // Sector reports until the erase ends, as the loader reads them.
  uint8_t byte = SECTOR_ERASED_CODE;
  while (byte == SECTOR_ERASED_CODE && ReadByte(link, byte)) answers.push_back(byte);
  return answers;
}

RecordPacket DataRecord(uint32_t address, const std::vector<uint8_t>& data) {
  RecordPacket packet{};
  Reset(packet);
  std::vector<uint16_t> wide(data.begin(), data.end());
  Append(packet, address, static_cast<uint16_t>(wide.size()), wide.data());
  Seal(packet);
  return packet;
}

RecordPacket EndRecord() {
  RecordPacket packet{};
  MakeEndRecord(packet);
  return packet;
}

RecordPacket EraseRecord(uint32_t start, uint32_t end) {
  RecordPacket packet{};
  MakeEraseRecord(packet, start, end);
  return packet;
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
  return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace gpsfw::sim::test
