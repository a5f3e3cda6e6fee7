#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "protocol/record_packet.h"
#include "sim/receiver.h"
#include "sim/virtual_transport.h"

namespace gpsfw::sim::test {

// A host played by the test through the loader's own serial port code, against the receiver
// model in virtual time.
class SimHost {
 public:
  explicit SimHost(const ReceiverConfig& config = ReceiverConfig(),
                   VirtualTransportOptions options = {});
  ~SimHost();

  void Baud(uint32_t baud) { SetBaud(link, baud); }
  void Send(const std::vector<uint8_t>& bytes);
  void Send(uint8_t byte) { Send(std::vector<uint8_t>{byte}); }
  void Send(const RecordPacket& packet);
  // Everything that arrives within `ms` from now.
  std::vector<uint8_t> Collect(uint32_t ms);
  // Sends `byte` and collects for `ms`.
  std::vector<uint8_t> Ask(uint8_t byte, uint32_t ms = 200);

  // The loader's wake-up: the wake sequence at 4800 and at 57600, each followed by four
  // SYNC_CODE at 19200; ends at 19200 with the answers discarded.
  void Wake();
  // Announces a record, sends its frame when asked, and gives the verdict: the first byte
  // after the frame that is not REC_WAIT_CODE, or -1 when none came within `ms`.
  int Record(const RecordPacket& packet, uint32_t ms = 3000);
  // Wake-up, 'E' poll and an SFLD of `bytes` bytes at 0x20000000; the SFLD then runs.
  void UploadSfld(size_t bytes = 100);
  // From power-on to the SFLD's flash commands at 115200.
  void ToFlashCommands();
  // Erase command and erase record; the answers up to the end of the erase.
  std::vector<uint8_t> Erase(uint32_t start, uint32_t end);

  SimResult Result() const { return receiver.Result(); }
  SimTime Now() const { return transport.NowNs(); }

  Receiver receiver;
  VirtualTransport transport;
  ScopedVirtualTransport installed;
  SerialLink link;
};

// A sealed data record of `data` at `address`.
RecordPacket DataRecord(uint32_t address, const std::vector<uint8_t>& data);
RecordPacket EndRecord();
RecordPacket EraseRecord(uint32_t start, uint32_t end);
// `count` bytes of a recognisable pattern.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 1);
std::vector<uint8_t> Bytes(const std::string& text);

}  // namespace gpsfw::sim::test
