// What stations killed outright leave behind: their temporary folders, and the same device
// named twice.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/station/station_harness.h"
#include "tests/support/log_capture.h"
#include "tests/support/sample_images.h"
#include "tests/support/scoped_env.h"
#include "tools/gpsfwstation/run/running_notes.h"
#include "tools/gpsfwstation/run/unit_files.h"

namespace gpsfw::test {
namespace {

// A pid that no process has: a child that has ended and been reaped.
int DeadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return static_cast<int>(pid);
}

void Folder(const std::string& path, int pid) {
  std::filesystem::create_directories(path);
  if (pid != 0) WriteFile(path + "/pid", std::to_string(pid) + "\n");
}

TEST(UnitFiles, TheNextStartRemovesTheFoldersOfDeadStations) {
  struct Case {
    const char* name;
    int station;             // the pid in the station's folder
    std::vector<int> units;  // each unit folder's pid, 0 for a folder without one
    bool kept;
  };
  const int dead = DeadPid();
  const int alive = static_cast<int>(getpid());
  const std::vector<Case> cases = {
      {"a station killed with its loaders ended", dead, {dead, dead}, false},
      // The image's copy and the check's folder have no loader in them.
      {"folders of no loader", dead, {0, 0, dead}, false},
      {"a loader of a dead station still running", dead, {0, alive}, true},
      // Pid 1 is no station: its pid was taken again.
      {"a station's pid taken again", 1, {dead}, false},
      {"a folder of no station", 0, {}, true},
  };
  TempDir tmp;
  const ScopedEnv env("TMPDIR", tmp.path());
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string folder = tmp.File("gpsfwstation.case" + std::to_string(i));
    Folder(folder, cases[i].station);
    for (size_t u = 0; u < cases[i].units.size(); ++u) {
      Folder(folder + "/unit-" + std::to_string(u + 1), cases[i].units[u]);
    }
  }
  {
    TempDir logs;
    station::UnitFiles files(logs.path());
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(std::filesystem::exists(tmp.File("gpsfwstation.case" + std::to_string(i))),
                cases[i].kept)
          << cases[i].name;
    }
  }
  // The station's own folder goes with it.
  size_t left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path())) {
    left += entry.path().filename().string().rfind("gpsfwstation.case", 0) == 0 ? 0 : 1;
  }
  EXPECT_EQ(left, 0u);
}

TEST(DeviceKey, ALinkAndItsDeviceAreOneDevice) {
  TempDir dir;
  std::filesystem::create_symlink("/dev/null", dir.File("null-link"));
  std::filesystem::create_symlink(dir.File("null-link"), dir.File("link-of-link"));
  WriteFile(dir.File("plain"), "");
  std::filesystem::create_symlink(dir.File("plain"), dir.File("plain-link"));
  EXPECT_EQ(station::DeviceKey("/dev/null"), station::DeviceKey(dir.File("null-link")));
  EXPECT_EQ(station::DeviceKey("/dev/null"), station::DeviceKey(dir.File("link-of-link")));
  EXPECT_NE(station::DeviceKey("/dev/null"), station::DeviceKey("/dev/zero"));
  EXPECT_EQ(station::DeviceKey(dir.File("plain")), station::DeviceKey(dir.File("plain-link")));
  EXPECT_NE(station::DeviceKey(dir.File("none")), station::DeviceKey(dir.File("other")));
}

// A receiver named by a link and by its own name is flashed once, and the station succeeds.
TEST(StationDevices, TheSameDeviceNamedTwiceIsFlashedOnce) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  Receivers receivers(dir, 1, images.container);
  std::filesystem::create_symlink(receivers.Port(0), dir.File("fixture-1"));
  Program station(
      {ProgramPath("gpsfwstation"), "-i", images.container, "--log-dir", dir.File("logs"),
       "--plain", "--unit-timeout", "60", receivers.Port(0), dir.File("fixture-1")},
      dir.File("station.out"));
  EXPECT_EQ(station.Wait(120), 0) << ReadFile(dir.File("station.out"));
  EXPECT_NE(ReadFile(dir.File("station.out")).find("the same device as " + receivers.Port(0)),
            std::string::npos);
  EXPECT_EQ(Count(receivers.Stop(), "flash verified"), 1u);
}

}  // namespace
}  // namespace gpsfw::test
