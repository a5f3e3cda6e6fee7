// Loaders started at once with one TMPDIR, each on its own port with an image of its own:
// every one uploads exactly the SFLD of its own image, in real time against gpsfwsim.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

constexpr int kLoaders = 8;

// SFLDs of different sizes, so that the receiver's report tells whose it got.
int SfldSize(int loader) {
  return 1024 + 512 * loader;
}

class SharedTmpdir : public ::testing::Test {
 protected:
  SharedTmpdir() {
    const char* tmp = getenv("TMPDIR");
    if (tmp != nullptr) savedTmpdir = tmp;
  }
  ~SharedTmpdir() override {
    if (savedTmpdir.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", savedTmpdir.c_str(), 1);
    }
  }
  std::string Sub(int loader, const std::string& name) const {
    return dir.File("loader" + std::to_string(loader) + "/" + name);
  }
  // An image of its own for each loader, with an SFLD of SfldSize(k) bytes.
  void MakeLoaderImages(int loaders) {
    for (int k = 0; k < loaders; ++k) {
      std::filesystem::create_directories(Sub(k, ""));
      TempDir parts;
      std::filesystem::copy_file(MakeImages(parts, 1024, 4096, SfldSize(k)).container,
                                 Sub(k, "fw.bin"));
    }
  }
  std::string SharedTmp() {
    const std::string shared = dir.File("tmp");
    std::filesystem::create_directories(shared);
    return shared;
  }

  TempDir dir;
  std::string savedTmpdir;
};

TEST_F(SharedTmpdir, EveryLoaderUploadsTheSfldOfItsOwnImage) {
  MakeLoaderImages(kLoaders);
  std::vector<std::unique_ptr<ChildProcess>> sims;
  for (int k = 0; k < kLoaders; ++k) {
    sims.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{ProgramPath("gpsfwsim"), "--link", Sub(k, "gps0"), "--once",
                                 "--expect", Sub(k, "fw.bin"), "--report", Sub(k, "report.json"),
                                 "--time-limit", "280"},
        Sub(k, "sim.out")));
  }
  for (int k = 0; k < kLoaders; ++k) {
    for (int i = 0; i < 400 && !std::filesystem::exists(Sub(k, "gps0")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  const std::string shared = SharedTmp();
  setenv("TMPDIR", shared.c_str(), 1);
  std::vector<std::unique_ptr<ChildProcess>> loaders;
  for (int k = 0; k < kLoaders; ++k) {
    loaders.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{ProgramPath("gpsfwload"), "-i", Sub(k, "fw.bin"), "-p",
                                 Sub(k, "gps0"), "-l", Sub(k, "update.log")}));
  }
  for (int k = 0; k < kLoaders; ++k) {
    SCOPED_TRACE("loader " + std::to_string(k));
    EXPECT_EQ(loaders[k]->Wait(280), 0) << ReadFile(Sub(k, "update.log"));
    EXPECT_EQ(sims[k]->Wait(30), 0) << ReadFile(Sub(k, "sim.out"));
    EXPECT_NE(ReadFile(Sub(k, "update.log")).find("\r\nSFLD section found\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(Sub(k, "sim.out")).find("flash verified"), std::string::npos);
    const nlohmann::json report = nlohmann::json::parse(ReadFile(Sub(k, "report.json")));
    EXPECT_EQ(report["sfld"]["bytes"], SfldSize(k));
  }
  // The file keeps its name and stays on disk, and no loader left a scratch file.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(shared)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"sfld_tmp.hex"}));
}

// Many more loaders, started again and again, each on a line where nobody answers: the
// SFLD extent each one logs before it polls is that of its own image's SFLD.
TEST_F(SharedTmpdir, SixteenLoadersAtOnceEachReadTheirOwnSfld) {
  constexpr int kStarts = 16;
  constexpr int kRounds = 4;
  MakeLoaderImages(kStarts);
  std::vector<int> masters;
  std::vector<std::string> ports;
  for (int k = 0; k < kStarts; ++k) {
    int master = -1;
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    masters.push_back(master);
    ports.push_back(name);
  }
  setenv("TMPDIR", SharedTmp().c_str(), 1);
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::unique_ptr<ChildProcess>> loaders;
    for (int k = 0; k < kStarts; ++k) {
      loaders.push_back(std::make_unique<ChildProcess>(
          std::vector<std::string>{ProgramPath("gpsfwload"), "-i", Sub(k, "fw.bin"), "-p", ports[k],
                                   "-l", Sub(k, "update.log")}));
    }
    for (int k = 0; k < kStarts; ++k) {
      SCOPED_TRACE("round " + std::to_string(round) + ", loader " + std::to_string(k));
      const std::string polling = "Waiting for target answer at 19200...\r\n";
      std::string log;
      for (int i = 0; i < 1500 && log.find(polling) == std::string::npos; ++i) {
        if (!loaders[k]->Running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log = ReadFile(Sub(k, "update.log"));
      }
      EXPECT_NE(log.find("\r\nImage Size: " + std::to_string(SfldSize(k)) + " bytes\r\n" + polling),
                std::string::npos)
          << log;
      loaders[k]->Signal(SIGTERM);
      EXPECT_EQ(loaders[k]->Wait(30), 128 + SIGTERM);
    }
  }
  for (int master : masters) close(master);
}

}  // namespace
}  // namespace gpsfw::test
