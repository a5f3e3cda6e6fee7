#include "tools/gpsfwstation/image_check.h"

#include <poll.h>
#include <signal.h>

#include <array>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tools/gpsfwstation/loader_environment.h"
#include "tools/gpsfwstation/loader_process.h"

namespace gpsfw::station {
namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320;  // reflected 0x04C11DB7
// Preparing even the largest container takes the loader well under a second.
constexpr auto kCheckBound = std::chrono::seconds(60);
constexpr int kPollMs = 100;

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

// Reads both pipes until both end, or the time bound passes.
void Collect(LoaderProcess& check, std::string& output) {
  const auto deadline = std::chrono::steady_clock::now() + kCheckBound;
  while (check.OutFd() >= 0 || check.ErrFd() >= 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      output += "gpsfwstation: the image check did not end within 60 s\n";
      check.SignalGroup(SIGKILL);
      return;
    }
    pollfd fds[2] = {{check.OutFd(), POLLIN, 0}, {check.ErrFd(), POLLIN, 0}};
    if (poll(fds, 2, kPollMs) <= 0) continue;
    if (fds[0].revents != 0 && !ReadAvailable(fds[0].fd, output)) check.CloseOut();
    if (fds[1].revents != 0 && !ReadAvailable(fds[1].fd, output)) check.CloseErr();
  }
}

}  // namespace

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
  static const std::array<uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

ImageFacts ReadImageFacts(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the image " + path);
  ImageFacts facts;
  facts.path = path;
  std::vector<char> buffer(64 * 1024);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    facts.crc32 = Crc32(reinterpret_cast<const uint8_t*>(buffer.data()), got, facts.crc32);
    facts.size += got;
  }
  if (in.bad()) throw std::runtime_error("cannot read the image " + path);
  return facts;
}

CheckRun RunImageCheck(const std::string& loader, const std::string& image, const std::string& log,
                       const std::string& tmpDir) {
  LoaderProcess check;
  std::string error;
  if (!check.Start({loader, "--check", "-i", image, "-l", log}, LoaderEnvironment(tmpDir), error)) {
    throw std::runtime_error(error);
  }
  CheckRun run;
  Collect(check, run.output);
  while (!check.Reap()) poll(nullptr, 0, 10);
  run.status = check.Status();
  return run;
}

}  // namespace gpsfw::station
