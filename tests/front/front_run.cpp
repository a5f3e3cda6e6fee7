#include "tests/front/front_run.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "app/check_run.h"
#include "app/command_line.h"
#include "app/front_end.h"
#include "app/run_loader.h"
#include "image/image_objects.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "report/progress_log.h"
#include "sim/virtual_transport.h"

namespace gpsfw::test {
namespace {

std::FILE* OpenIf(bool wanted, const std::string& path) {
  return wanted ? std::fopen(path.c_str(), "w") : nullptr;
}

std::string CloseAndRead(std::FILE* file, const std::string& path) {
  if (file == nullptr) return "";
  std::fclose(file);
  return ReadFile(path);
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return lines;
}

FrontRun RunWithFrontEnd(const TempDir& dir, const sim::ReceiverConfig& config,
                         const std::string& image, const FrontViews& views,
                         const std::string& extraArguments) {
  std::filesystem::create_directories(dir.File("tmp"));
  setenv("TMPDIR", dir.File("tmp").c_str(), 1);
  FrontEndOutputs outputs;
  outputs.consoleSetup = views.console;
  outputs.console = OpenIf(views.console.mode != ConsoleMode::kOff, dir.File("console"));
  outputs.events = OpenIf(views.events, dir.File("events"));
  outputs.trace = OpenIf(views.trace, dir.File("trace"));
  outputs.check = OpenIf(views.check, dir.File("check"));

  FrontRun run;
  sim::Receiver receiver(config);
  sim::VirtualTransport transport(receiver);
  {
    sim::ScopedVirtualTransport installed(transport);
    FrontEnd front;
    front.Attach(image.c_str(), "/dev/gps-sim", outputs);
    front.Install();
    const std::string log = dir.File("update.log");
    std::vector<std::string> words = {"gpsfwload", "-i", image, "-p", "/dev/gps-sim", "-l", log};
    std::istringstream extra(extraArguments);
    for (std::string word; extra >> word;) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    LoaderOptions options;
    ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
    run.code = RunLoader(options);
    run.log = SplitLines(ReadFile(log), "\r\n");
    run.virtualSeconds = static_cast<double>(transport.NowNs()) / 1e9;
  }
  FirmwareImage().Close();
  SfldReader().Close();
  PfldMode = false;
  unsetenv("TMPDIR");

  run.console = CloseAndRead(outputs.console, dir.File("console"));
  run.events = CloseAndRead(outputs.events, dir.File("events"));
  run.trace = CloseAndRead(outputs.trace, dir.File("trace"));
  run.check = CloseAndRead(outputs.check, dir.File("check"));
  run.result = receiver.Result();
  run.wire = transport.Wire();
  return run;
}

CheckRun RunCheck(const TempDir& dir, const std::string& image,
                  const std::string& sfldBesideProgram) {
  std::filesystem::create_directories(dir.File("bin"));
  std::filesystem::remove(dir.File("bin/sfld.hex"));
  if (!sfldBesideProgram.empty()) {
    std::filesystem::copy_file(sfldBesideProgram, dir.File("bin/sfld.hex"));
  }
  const std::string program = dir.File("bin/gpsfwload");
  platform::OverrideModuleFileName(program.c_str());
  std::filesystem::create_directories(dir.File("tmp"));
  setenv("TMPDIR", dir.File("tmp").c_str(), 1);
  const std::string reportPath = dir.File("check");
  const std::string logPath = dir.File("check.log");
  std::FILE* report = std::fopen(reportPath.c_str(), "w");
  FrontEndOutputs outputs;
  outputs.check = report;
  CheckRun run;
  {
    FrontEnd front;
    front.Attach(image.c_str(), nullptr, outputs);
    front.Install();
    OpenProgressLog(logPath.c_str());
    LogWide(L"GPS FW Loader v1.0.0 ");
    wchar_t path[4096];
    platform::WideFromNarrow(path, 4096, image.c_str());
    run.code = CheckImage(path);
    CloseProgressLog(run.code);
    Observe().OnPhase(UpdatePhase::kDone);
    Observe().OnDone(run.code);
  }
  FirmwareImage().Close();
  SfldReader().Close();
  PfldMode = false;
  unsetenv("TMPDIR");
  platform::OverrideModuleFileName(nullptr);
  std::fclose(report);
  run.report = ReadFile(reportPath);
  run.log = SplitLines(ReadFile(logPath), "\r\n");
  return run;
}

}  // namespace gpsfw::test
