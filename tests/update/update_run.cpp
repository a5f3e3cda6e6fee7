#include "tests/update/update_run.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "app/run_loader.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/serial_driver.h"
#include "report/progress_log.h"
#include "sim/expected_image.h"
#include "sim/verification.h"
#include "tests/support/process.h"

namespace gpsfw::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Thrown out of the loader's waits once virtual time passes the limit. The loader holds its
// resources in RAII types, so unwinding through it leaves nothing open.
struct VirtualTimeUp {};

// The transport, with a limit on virtual time.
class BoundedTransport final : public platform::SerialDriver, public platform::Clock {
 public:
  BoundedTransport(sim::VirtualTransport& inner, double limitSeconds)
      : inner_(inner), limitNs_(static_cast<sim::SimTime>(limitSeconds * 1e9)) {}

  int Open(const char* device) override { return inner_.Open(device); }
  void Close(int handle) override { inner_.Close(handle); }
  bool Configure(int handle, uint32_t baud) override { return inner_.Configure(handle, baud); }
  long Read(int handle, uint8_t* buffer, size_t size) override {
    Check();
    return inner_.Read(handle, buffer, size);
  }
  long Write(int handle, const uint8_t* data, size_t size) override {
    Check();
    return inner_.Write(handle, data, size);
  }
  platform::WaitResult WaitReadable(int handle, uint32_t ms) override {
    Check();
    return inner_.WaitReadable(handle, ms);
  }
  void PurgeReceive(int handle) override { inner_.PurgeReceive(handle); }
  void Drain(int handle) override {
    Check();
    inner_.Drain(handle);
  }
  bool TakeLineErrors(int handle, uint32_t* flags) override {
    return inner_.TakeLineErrors(handle, flags);
  }
  bool Lost(int handle) override { return inner_.Lost(handle); }
  bool Reopen(int handle) override {
    Check();
    return inner_.Reopen(handle);
  }
  uint64_t NowUs() override { return inner_.NowUs(); }
  void SleepMs(uint32_t ms) override {
    Check();
    inner_.SleepMs(ms);
  }

 private:
  void Check() {
    if (inner_.NowNs() > limitNs_) throw VirtualTimeUp{};
  }

  sim::VirtualTransport& inner_;
  sim::SimTime limitNs_;
};

}  // namespace

UpdateRun RunUpdate(const TempDir& dir, const sim::ReceiverConfig& config, const std::string& image,
                    const std::string& sfldBesideProgram, double virtualLimitSeconds) {
  const std::string program = dir.File("bin/gpsfwload");
  std::filesystem::create_directories(dir.File("bin"));
  std::filesystem::remove(dir.File("bin/sfld.hex"));
  if (!sfldBesideProgram.empty()) {
    std::filesystem::copy_file(sfldBesideProgram, dir.File("bin/sfld.hex"));
  }
  std::filesystem::create_directories(dir.File("tmp"));
  const char* oldTmp = getenv("TMPDIR");
  const std::string previousTmp = oldTmp != nullptr ? oldTmp : "";
  setenv("TMPDIR", dir.File("tmp").c_str(), 1);
  platform::OverrideModuleFileName(program.c_str());

  UpdateRun run;
  sim::Receiver receiver(config);
  sim::VirtualTransport transport(receiver);
  BoundedTransport bounded(transport, virtualLimitSeconds);
  {
    platform::InstallSerialDriver(&bounded);
    platform::InstallClock(&bounded);
    const std::string log = dir.File("update.log");
    LoaderOptions options;
    options.image = image.c_str();
    options.port = "/dev/gps-sim";
    options.log = log.c_str();
    try {
      run.code = RunLoader(options);
    } catch (const VirtualTimeUp&) {
      run.timedOut = true;
      run.code = -1;
      FlushProgressLog();
    }
    platform::InstallSerialDriver(nullptr);
    platform::InstallClock(nullptr);
    run.log = SplitLines(ReadFile(log));
    run.virtualSeconds = static_cast<double>(transport.NowNs()) / 1e9;
  }
  platform::OverrideModuleFileName(nullptr);
  if (previousTmp.empty()) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", previousTmp.c_str(), 1);
  }

  run.result = receiver.Result();
  run.wire = transport.Wire();
  run.verification = sim::VerifyFlash(receiver.GetFlash(), sim::LoadExpectedImage(image)).text;
  return run;
}

bool InOrder(const std::vector<std::string>& haystack, const std::vector<std::string>& needles) {
  auto it = haystack.begin();
  for (const std::string& needle : needles) {
    it = std::find(it, haystack.end(), needle);
    if (it == haystack.end()) return false;
    ++it;
  }
  return true;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace gpsfw::test
