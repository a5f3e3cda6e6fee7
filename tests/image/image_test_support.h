#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/record_packet.h"
#include "tests/support/log_capture.h"
#include "tools/container_writer/container_writer.h"

namespace gpsfw::test {

using tool::Bytes;

uint32_t WordAt(const Bytes& image, size_t offset);
void PutWord(Bytes& image, size_t offset, uint32_t value);
// Deterministic filler.
Bytes PseudoRandom(size_t size, uint32_t seed);

// A good binary container from the image tool's writer: PFLD of `pfldBytes` and FW of
// `fwBytes` (both multiples of 4 and at least 0x28) of pseudo-random bytes behind their
// first words, each with its header and checksum word. tool::AppendSfld adds an SFLD tail.
Bytes GoodContainer(uint32_t pfldBytes, uint32_t fwBytes, uint32_t seed = 1);
// Recomputes both section checksum words from the headers after a deliberate change (a
// header moved, a first word altered), so that only the change itself is wrong.
void Resum(Bytes& image);
// The checksum word of an SFLD tail holding `payload`.
uint32_t TailSum(const std::string& payload);

// A small well-formed SFLD: S0, `lines` S3 lines of 32 bytes from `address`, S7.
std::string SampleSfld(int lines = 4, uint32_t address = 0x20000000);
// One S-record line of any type with its count and checksum worked out.
std::string SRecLineText(int type, uint32_t address, int addressBytes, const Bytes& data);

// Everything the packets of a reader delivered, with the packets' addresses and sizes.
struct Delivery {
  bool ok = true;
  std::vector<uint32_t> addresses;
  std::vector<uint16_t> sizes;
  std::vector<std::pair<uint32_t, Bytes>> runs;  // data of each packet at its address
};
// Checks each sealed frame (marks, word count, checksum, address) against the packet.
bool FrameMatches(const RecordPacket& packet);

template <typename Reader>
Delivery Drain(Reader& reader, int limit = 100000) {
  Delivery d;
  RecordPacket* packet = new RecordPacket{};
  for (int i = 0; i < limit; ++i) {
    if (!reader.NextRecord(*packet)) {
      d.ok = false;
      break;
    }
    if (packet->dataCount == 0) break;
    if (!FrameMatches(*packet)) d.ok = false;
    d.addresses.push_back(packet->address);
    d.sizes.push_back(packet->dataCount);
    d.runs.emplace_back(packet->address,
                        Bytes(packet->frame + 7, packet->frame + 7 + packet->dataCount));
  }
  delete packet;
  return d;
}
// The bytes of contiguous runs joined; false when a run does not continue the one before.
bool Joined(const Delivery& d, uint32_t start, Bytes& out);

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

// Runs a shell command; its exit status.
int Run(const std::string& command);
bool HaveProgram(const char* name);

// Fresh temporary directory as TMPDIR, the program "placed" in <dir>/bin, the process-wide
// image objects closed before and after.
class ImageFixtureState {
 public:
  ImageFixtureState();
  ~ImageFixtureState();
  TempDir dir;
  std::string ProgramDir() const { return dir.File("bin"); }

 private:
  std::string savedTmpdir_;
  bool hadTmpdir_ = false;
};

}  // namespace gpsfw::test
