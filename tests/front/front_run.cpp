#include "tests/front/front_run.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "app/front_end.h"
#include "app/run_loader.h"
#include "image/image_objects.h"
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
    const std::string commandLine =
        "-i " + image + " -p /dev/gps-sim -l " + log + " " + extraArguments;
    run.code = RunLoader(commandLine.c_str());
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

}  // namespace gpsfw::test
