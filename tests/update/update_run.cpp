#include "tests/update/update_run.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "app/run_loader.h"
#include "image/image_objects.h"
#include "platform/paths.h"
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

}  // namespace

UpdateRun RunUpdate(const TempDir& dir, const sim::ReceiverConfig& config, const std::string& image,
                    const std::string& sfldBesideProgram) {
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
  {
    sim::ScopedVirtualTransport installed(transport);
    const std::string log = dir.File("update.log");
    const std::string commandLine = "-i " + image + " -p /dev/gps-sim -l " + log;
    run.code = RunLoader(commandLine.c_str());
    run.log = SplitLines(ReadFile(log));
    run.virtualSeconds = static_cast<double>(transport.NowNs()) / 1e9;
  }
  FirmwareImage().Close();
  SfldReader().Close();
  PfldMode = false;
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
