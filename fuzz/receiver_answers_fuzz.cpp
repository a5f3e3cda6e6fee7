// A whole update in virtual time against a receiver whose every answer is fuzz input. The
// loader must never crash, never grow without bound, never spin (real time stays small per
// virtual hour), and may only report success when what it sent in its last flash stage
// programs the whole image.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "app/run_loader.h"
#include "fuzz/fuzz_file.h"
#include "link/port_loss.h"
#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
#include "tools/container_writer/container_writer.h"

namespace {

using gpsfw::tool::Bytes;

constexpr uint64_t kVirtualLimitUs = 3600ull * 1000 * 1000;
constexpr auto kRealLimit = std::chrono::seconds(5);

struct TimeUp {};

std::string SrecLine(uint32_t address, const uint8_t* data, size_t count) {
  char line[128];
  int n = std::snprintf(line, sizeof line, "S3%02X%08X", static_cast<unsigned>(count + 5), address);
  unsigned sum = static_cast<unsigned>(count + 5);
  for (int shift = 0; shift < 32; shift += 8) sum += (address >> shift) & 0xFF;
  for (size_t i = 0; i < count; ++i) {
    n += std::snprintf(line + n, sizeof line - n, "%02X", data[i]);
    sum += data[i];
  }
  std::snprintf(line + n, sizeof line - n, "%02X\r\n", ~sum & 0xFF);
  return line;
}

// A 2 KiB PFLD, a 2 KiB FW and a 64-byte SFLD in the image's tail.
struct Image {
  std::string path;
  Bytes programmed;
};

Image MakeImage() {
  Bytes pfld(2048), fw(2048);
  for (size_t i = 0; i < pfld.size(); ++i) pfld[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t i = 0; i < fw.size(); ++i) fw[i] = static_cast<uint8_t>(i * 13 + 5);
  // Both sections start with an ARM branch, as the container check wants.
  const uint8_t branch[4] = {0x18, 0xF0, 0x9F, 0xE5};
  std::copy(branch, branch + 4, pfld.begin());
  std::copy(branch, branch + 4, fw.begin());
  Bytes image = gpsfw::tool::LayOutContainer(pfld, fw);
  uint8_t code[64];
  for (size_t i = 0; i < sizeof code; ++i) code[i] = static_cast<uint8_t>(i);
  std::string sfld = SrecLine(0, code, 32) + SrecLine(32, code + 32, 32) + "S70500000000FA\r\n";
  gpsfw::tool::AppendSfld(image, gpsfw::tool::PadSfldText(sfld));
  Image result;
  const uint32_t fwEnd = image[0x4024] | image[0x4025] << 8 | image[0x4026] << 16 |
                         static_cast<uint32_t>(image[0x4027]) << 24;
  result.programmed.assign(image.begin(), image.begin() + (fwEnd - gpsfw::PFLD_BASE));
  result.path = gpsfw::fuzz::Files().Write("fw.bin", image.data(), image.size());
  return result;
}

// The receiver: after each write of the host, the next chunk of the input arrives 1 ms later
// (a length byte, then that many bytes); once the input is used up the line is silent.
class FuzzLine final : public gpsfw::platform::SerialDriver, public gpsfw::platform::Clock {
 public:
  FuzzLine(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  int Open(const char*) override { return 3; }
  void Close(int) override {}
  bool Configure(int, uint32_t baud) override {
    baud_ = baud;
    return true;
  }
  long Read(int, uint8_t* buffer, size_t size) override {
    if (!Arrived()) Advance(1000 + 1000 * std::min<size_t>(size, 60000));
    size_t n = 0;
    while (n < size && Arrived()) {
      buffer[n++] = pending_.front().byte;
      pending_.pop_front();
    }
    return static_cast<long>(n);
  }
  long Write(int, const uint8_t* bytes, size_t size) override {
    Check();
    for (size_t i = 0; i < size; ++i) written_.push_back({bytes[i], baud_});
    Answer();
    return static_cast<long>(size);
  }
  gpsfw::platform::WaitResult WaitReadable(int, uint32_t ms) override {
    const uint64_t until = nowUs_ + ms * 1000ull;
    while (!Arrived() && nowUs_ < until) {
      const uint64_t next = pending_.empty() ? until : std::min(until, pending_.front().atUs);
      Advance(next - nowUs_);
    }
    return Arrived() ? gpsfw::platform::WaitResult::kReadable
                     : gpsfw::platform::WaitResult::kTimeout;
  }
  void PurgeReceive(int) override {
    while (Arrived()) pending_.pop_front();
  }
  void Drain(int) override {}
  bool TakeLineErrors(int, uint32_t* flags) override {
    *flags = 0;
    return true;
  }
  uint64_t NowUs() override { return nowUs_; }
  void SleepMs(uint32_t ms) override { Advance(ms * 1000ull); }

  struct Sent {
    uint8_t byte;
    uint32_t baud;
  };
  const std::vector<Sent>& Written() const { return written_; }

 private:
  struct Arrival {
    uint64_t atUs;
    uint8_t byte;
  };
  bool Arrived() const { return !pending_.empty() && pending_.front().atUs <= nowUs_; }
  void Advance(uint64_t us) {
    nowUs_ += us;
    Check();
  }
  void Check() const {
    if (nowUs_ > kVirtualLimitUs) throw TimeUp{};
    if (std::chrono::steady_clock::now() - start_ > kRealLimit) std::abort();  // spinning
  }
  void Answer() {
    if (used_ >= size_) return;
    const size_t wanted = data_[used_++] % 24;
    const size_t count = std::min(wanted, size_ - used_);
    for (size_t i = 0; i < count; ++i) pending_.push_back({nowUs_ + 1000, data_[used_++]});
  }

  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
  uint64_t nowUs_ = 0;
  uint32_t baud_ = 0;
  std::deque<Arrival> pending_;
  std::vector<Sent> written_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The data records of the last flash stage (the bytes at 115200 after the last ERASE_CODE),
// laid into a flash image.
Bytes ProgrammedByHost(const std::vector<FuzzLine::Sent>& sent, size_t size) {
  size_t from = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    if (sent[i].baud == 115200 && sent[i].byte == gpsfw::ERASE_CODE) from = i + 1;
  }
  Bytes flash(size, 0xFF);
  for (size_t i = from; i + 6 < sent.size(); ++i) {
    if (sent[i].baud != 115200 || sent[i].byte != gpsfw::FRAME_START) continue;
    const size_t words = sent[i + 1].byte << 8 | sent[i + 2].byte;
    if (words < 3 || i + 5 + 2 * words >= sent.size()) continue;
    if (sent[i + 5 + 2 * words].byte != gpsfw::FRAME_END) continue;
    uint32_t address = 0;
    for (int k = 0; k < 4; ++k) address = address << 8 | sent[i + 3 + k].byte;
    for (size_t k = 0; k + 4 < 2 * words; ++k) {
      const uint64_t at = uint64_t{address} + k - gpsfw::PFLD_BASE;
      if (at < size) flash[at] = sent[i + 7 + k].byte;
    }
  }
  return flash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Image image = MakeImage();
  static const std::string log = gpsfw::fuzz::Files().File("update.log");
  gpsfw::LoaderOptions options;
  options.image = image.path.c_str();
  options.port = "/dev/fuzz";
  options.log = log.c_str();
  FuzzLine line(data, size);
  gpsfw::platform::InstallSerialDriver(&line);
  gpsfw::platform::InstallClock(&line);
  int code = -1;
  try {
    code = gpsfw::RunLoader(options);
  } catch (const TimeUp&) {
  }
  gpsfw::platform::InstallSerialDriver(nullptr);
  gpsfw::platform::InstallClock(nullptr);
  if (code == 0 && ProgrammedByHost(line.Written(), image.programmed.size()) != image.programmed) {
    std::abort();  // success claimed without the whole image sent
  }
  return 0;
}
