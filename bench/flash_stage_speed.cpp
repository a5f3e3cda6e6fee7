// How close the flash stage comes to what the protocol itself allows.
//
// The floor of the flash stage is the wire time of every byte sent and received at the
// flash rate, plus the pauses the host must make (before the version reply is read, before
// the type reply, inside the erase command, before each record exchange), plus the receiver's own
// time (sector erases, programming each record, its latency before each answer). The measured time
// runs from the first byte the host sends at the flash rate to the end of the end record's verdict.
//
// The same 256 KiB image is programmed twice: in virtual time against the receiver model,
// and in real time through gpsfwsim on a pty. The floor comes from the bytes of the virtual
// run, which are the bytes of every run of this image against this receiver.
//
// With --adapter-latency MS the virtual run is repeated behind a USB-serial adapter whose
// latency timer is MS (an FTDI chip: 16 ms by default), once with the loader's request for
// low latency (1 ms, as ftdi_sio grants it) and once with --no-low-latency, each against
// the same floor: the adapter costs the host time at every turn of the line.
//
// Usage: flash_stage_speed [--virtual-only] [--kib N] [--adapter-latency MS]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/run_loader.h"
#include "platform/low_latency.h"
#include "platform/paths.h"
#include "protocol/host_timing.h"
#include "sim/receiver.h"
#include "sim/virtual_transport.h"

namespace {

using gpsfw::sim::Direction;
using gpsfw::sim::SimTime;
using gpsfw::sim::WireEvent;

using gpsfw::kFlashBaud;
constexpr double kNsPerSecond = 1e9;
constexpr double kHostPausesFixed =
    (gpsfw::kVersionReplyPauseMs + gpsfw::kTypeReplyPauseMs + gpsfw::kEraseCommandGapMs) / 1000.0;
constexpr double kPausePerRecord = gpsfw::kRecordSettleMs / 1000.0;

std::string Bin(const std::string& name) {
  return std::string(GPSFW_BIN_DIR) + "/" + name;
}

int Spawn(const std::vector<std::string>& args, pid_t* pid, const char* stdoutPath = nullptr) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath ? stdoutPath : "/dev/null",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = posix_spawn(pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

int Run(const std::vector<std::string>& args) {
  pid_t pid = 0;
  if (Spawn(args, &pid) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Floor {
  double wire = 0;      // bytes at the flash rate in both directions
  double pauses = 0;    // the host's prescribed pauses
  double receiver = 0;  // erase, programming, answer latency
  int records = 0;
  uint64_t bytes = 0;
  double Total() const { return wire + pauses + receiver; }
};

// Wire time of every byte at the flash rate in the stage.
void AddWire(Floor& floor, const std::vector<WireEvent>& wire, SimTime from, SimTime to) {
  for (const WireEvent& e : wire) {
    if (e.startNs < from || e.endNs > to || e.senderBaud != kFlashBaud) continue;
    floor.wire += (e.endNs - e.startNs) / kNsPerSecond;
    ++floor.bytes;
  }
}

// The host's pauses and the receiver's own time, from the exchanges of the last flash stage:
// the receiver answers each query, the boot-mode command, the erase command and the end of
// the erase after its reply latency, and each record twice (the request and the verdict).
void AddPausesAndReceiver(Floor& floor, const gpsfw::sim::SimResult& result,
                          const gpsfw::sim::Timing& timing) {
  int dataRecords = 0;
  for (const auto& r : result.records) {
    if (r.stage != gpsfw::sim::Stage::kFlash || r.attempt != result.flashAttempts) continue;
    ++floor.records;
    if (r.index >= 0) ++dataRecords;
  }
  const uint32_t sectors = result.erases.empty() ? 0 : result.erases.back().sectorsErased;
  const int replies = 5 + 2 * floor.records;
  floor.pauses = kHostPausesFixed + kPausePerRecord * floor.records;
  floor.receiver =
      (sectors * double(timing.eraseSectorUs) + dataRecords * double(timing.programRecordUs) +
       replies * double(timing.replyUs)) /
      1e6;
}

struct Measured {
  double seconds = 0;       // the flash stage
  double wholeSeconds = 0;  // the whole update, from the loader's start (virtual runs)
  std::string verdict;
};

void Print(const char* mode, const Measured& m, const Floor& floor) {
  std::printf("%-28s %9.3f s  floor %9.3f s  ratio %.4f  %s\n", mode, m.seconds, floor.Total(),
              m.seconds / floor.Total(), m.verdict.c_str());
}

std::string MakeImage(const std::string& dir, int kib) {
  const int fwSize = kib * 1024 - 0x4000;
  const std::string parts = dir + "/parts";
  std::filesystem::create_directories(parts);
  const std::string tool = Bin("gpsfwimg");
  Run({tool, "sample", "--pfld-size", "16380", "--fw-size", std::to_string(fwSize), "--out-dir",
       parts});
  const std::string image = dir + "/bench.bin";
  Run({tool, "build", "--pfld", parts + "/PFLD.bin", "--fw", parts + "/FW.bin", "--sfld",
       parts + "/SFLD.srec", "-o", image});
  return image;
}

SimTime FirstHostByteAtFlashRate(const std::vector<WireEvent>& wire) {
  for (const WireEvent& e : wire) {
    if (e.direction == Direction::kHostToTarget && e.senderBaud == kFlashBaud) return e.startNs;
  }
  return 0;
}

// The loader's whole run in virtual time, behind an adapter with `adapterLatencyMs` (0: none).
// `floor`, when given, gets the flash stage's floor from the run's own bytes.
Measured RunVirtual(const std::string& dir, const std::string& image, Floor* floor,
                    uint32_t adapterLatencyMs = 0, bool lowLatency = true) {
  gpsfw::sim::Receiver receiver;
  gpsfw::sim::VirtualTransportOptions options;
  options.adapterLatencyMs = adapterLatencyMs;
  gpsfw::sim::VirtualTransport transport(receiver, options);
  gpsfw::platform::SetLowLatencyWanted(lowLatency);
  {
    gpsfw::sim::ScopedVirtualTransport installed(transport);
    const std::string log = dir + "/virtual.log";
    gpsfw::LoaderOptions options;
    options.image = image.c_str();
    options.port = "/dev/gps-sim";
    options.log = log.c_str();
    gpsfw::RunLoader(options);
  }
  const gpsfw::sim::SimResult result = receiver.Result();
  gpsfw::platform::SetLowLatencyWanted(true);
  const SimTime from = FirstHostByteAtFlashRate(transport.Wire());
  if (floor != nullptr) {
    AddWire(*floor, transport.Wire(), from, result.completedNs);
    AddPausesAndReceiver(*floor, result, receiver.Config().timing);
  }
  Measured m;
  m.seconds = (result.completedNs - from) / kNsPerSecond;
  m.wholeSeconds = result.completedNs / kNsPerSecond;
  m.verdict = result.updateCompleted ? "completed" : "NOT completed";
  return m;
}

Measured RunPty(const std::string& dir, const std::string& image) {
  const std::string link = dir + "/gps0", report = dir + "/report.json";
  pid_t sim = 0, loader = 0;
  Spawn({Bin("gpsfwsim"), "--link", link, "--once", "--expect", image, "--report", report,
         "--time-limit", "600"},
        &sim);
  for (int i = 0; i < 200 && !std::filesystem::exists(link); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Spawn({Bin("gpsfwload"), "-i", image, "-p", link, "-l", dir + "/pty.log"}, &loader);
  int status = 0;
  waitpid(loader, &status, 0);
  waitpid(sim, &status, 0);
  Measured m;
  std::ifstream in(report);
  if (!in) {
    m.verdict = "no report from gpsfwsim";
    return m;
  }
  const nlohmann::json r = nlohmann::json::parse(in);
  double from = 0;
  for (const auto& run : r["line"]) {
    if (run["direction"] == "host" && run["sender_baud"] == kFlashBaud) {
      from = run["start"].get<double>();
      break;
    }
  }
  m.seconds = r["completed_at"].get<double>() - from;
  m.verdict = r["verification"]["text"].get<std::string>();
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  bool virtualOnly = false;
  int kib = 256;
  uint32_t adapterMs = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--virtual-only") == 0) virtualOnly = true;
    if (std::strcmp(argv[i], "--kib") == 0 && i + 1 < argc) kib = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--adapter-latency") == 0 && i + 1 < argc) {
      adapterMs = static_cast<uint32_t>(std::atoi(argv[++i]));
    }
  }
  char dirTemplate[] = "/tmp/gpsfw-bench-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  setenv("TMPDIR", dir.c_str(), 1);
  const std::string image = MakeImage(dir, kib);

  Floor floor;
  const Measured virtualRun = RunVirtual(dir, image, &floor);
  std::printf("flash stage of a %d KiB image at %u baud, default receiver timings\n", kib,
              static_cast<unsigned>(kFlashBaud));
  std::printf(
      "floor: wire %.3f s (%llu bytes) + host pauses %.3f s (%d records) + receiver %.3f s\n",
      floor.wire, static_cast<unsigned long long>(floor.bytes), floor.pauses, floor.records,
      floor.receiver);
  Print("virtual time (model):", virtualRun, floor);
  if (adapterMs > 0) {
    std::printf("behind a USB adapter with a %u ms latency timer (whole update: %.3f s without):\n",
                static_cast<unsigned>(adapterMs), virtualRun.wholeSeconds);
    for (const bool low : {true, false}) {
      const Measured m = RunVirtual(dir, image, nullptr, adapterMs, low);
      Print(low ? "  low latency (1 ms):" : "  --no-low-latency:", m, floor);
      std::printf("  %28s whole update %.3f s\n", "", m.wholeSeconds);
    }
  }
  if (!virtualOnly) Print("real time (gpsfwsim, pty):", RunPty(dir, image), floor);
  std::filesystem::remove_all(dir);
  return 0;
}
